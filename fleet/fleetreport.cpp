#include "fleet/fleetreport.h"

#include "common/displaytext.h"
#include "common/nametable.h"
#include "launch/componentversions.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>
#include <cmath>

namespace {

constexpr qint64 kMaxReportBytes = 64 * 1024 * 1024;

constexpr kelvora::NameRow<FileResult> kResultNames[] = {
    {FileResult::NotSent, "not-sent"},
    {FileResult::Sent, "sent"},
    {FileResult::Failed, "failed"},
    {FileResult::Verified, "verified"},
    {FileResult::Mismatch, "mismatch"},
    {FileResult::NotReported, "not-reported"},
};

constexpr kelvora::NameRow<FolderSums::State> kSumsNames[] = {
    {FolderSums::Present, "checked"},
    {FolderSums::Absent, "none"},
    {FolderSums::Unreadable, "unreadable"},
};

QJsonObject camerasDocument(const QJsonArray& cameras)
{
    return QJsonObject{{QStringLiteral("cameras"), cameras}};
}

// The known versions by list-file key; a component without one is left out.
QJsonObject versionsObject(const QStringList& versions)
{
    QJsonObject object;
    for (int i = 0; i < kComponentCount && i < versions.size(); ++i) {
        if (!versions[i].isEmpty())
            object.insert(componentKey(i), versions[i]);
    }
    return object;
}

QJsonValue timeValue(const QDateTime& time)
{
    return time.isValid() ? QJsonValue(utcText(time)) : QJsonValue(QJsonValue::Null);
}

// Milliseconds are all a reader needs of a duration.
QJsonValue secondsValue(double seconds)
{
    return seconds >= 0 ? QJsonValue(std::round(seconds * 1000) / 1000) : QJsonValue(QJsonValue::Null);
}

QJsonObject runObject(const RunInfo& run)
{
    QJsonArray only;
    QList<int> keys(run.choice.only.begin(), run.choice.only.end());
    std::sort(keys.begin(), keys.end());
    for (int c : keys)
        only.append(componentKey(c));
    return QJsonObject{{QStringLiteral("tool"), run.tool},
                       {QStringLiteral("version"), run.version},
                       {QStringLiteral("folder"), run.folder},
                       {QStringLiteral("list_sha256"), run.listSha256.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(run.listSha256)},
                       {QStringLiteral("sums"), run.sums.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(run.sums)},
                       {QStringLiteral("all"), run.choice.all},
                       {QStringLiteral("only"), only},
                       {QStringLiteral("parallel"), run.parallel},
                       {QStringLiteral("canary"), run.canary},
                       {QStringLiteral("max_failures"), run.maxFailures},
                       {QStringLiteral("started"), timeValue(run.started)},
                       {QStringLiteral("ended"), timeValue(run.ended)}};
}

QJsonObject cameraObject(const CameraReport& r)
{
    QJsonArray files;
    for (const ReportedFile& f : r.files) {
        QJsonObject file{{QStringLiteral("component"), componentKey(f.component)},
                         {QStringLiteral("file"), f.fileName},
                         {QStringLiteral("version"), f.version},
                         {QStringLiteral("version_before"), f.before},
                         {QStringLiteral("result"), fileResultName(f.result)},
                         {QStringLiteral("size"), f.size >= 0 ? QJsonValue(double(f.size)) : QJsonValue(QJsonValue::Null)},
                         {QStringLiteral("sha256"), f.sha256.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(f.sha256)},
                         {QStringLiteral("upload_seconds"), secondsValue(f.uploadSeconds)},
                         {QStringLiteral("restart_seconds"), secondsValue(f.restartSeconds)},
                         {QStringLiteral("accepted"), f.accepted},
                         {QStringLiteral("earlier_run"), f.earlier}};
        files.append(file);
    }
    return QJsonObject{{QStringLiteral("address"), r.address},
                       {QStringLiteral("model"), fleetModelName(r.model)},
                       {QStringLiteral("end"), fleetEndName(r.end)},
                       {QStringLiteral("message"), r.message},
                       {QStringLiteral("reason"), r.reason},
                       {QStringLiteral("verified"), r.verified},
                       {QStringLiteral("credentials"), r.credentialSource},
                       {QStringLiteral("started"), timeValue(r.started)},
                       {QStringLiteral("ended"), timeValue(r.ended)},
                       {QStringLiteral("verification_started"), timeValue(r.verificationStarted)},
                       {QStringLiteral("versions_before"), versionsObject(r.before)},
                       {QStringLiteral("versions_after"), versionsObject(r.after)},
                       {QStringLiteral("canary"), r.canary},
                       {QStringLiteral("carried_over"), r.carriedOver},
                       {QStringLiteral("files"), files}};
}

QJsonObject reportObject(const FleetReport& report)
{
    QJsonArray cameras;
    for (const CameraReport& r : report.cameras)
        cameras.append(cameraObject(r));
    QJsonObject object = runObject(report.run);
    object.insert(QStringLiteral("cameras"), cameras);
    return object;
}

// ---- reading back ----

bool readTime(const QJsonValue& value, QDateTime* time)
{
    if (value.isNull() || value.isUndefined()) {
        *time = QDateTime();
        return true;
    }
    *time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return time->isValid();
}

// A duration written by secondsValue; absent or null in an older report.
bool readSeconds(const QJsonValue& value, double* seconds)
{
    *seconds = -1;
    if (value.isNull() || value.isUndefined())
        return true;
    if (!value.isDouble() || !(value.toDouble() >= 0))
        return false;
    *seconds = value.toDouble();
    return true;
}

bool readVersions(const QJsonValue& value, QStringList* versions, QString* error)
{
    versions->clear();
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isObject()) {
        *error = QStringLiteral("versions that are not an object");
        return false;
    }
    const QJsonObject object = value.toObject();
    if (object.isEmpty())
        return true;
    QStringList list;
    for (int i = 0; i < kComponentCount; ++i)
        list << object.value(componentKey(i)).toString();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (componentIndexOfKey(it.key()) < 0) {
            *error = QStringLiteral("an unknown component \"%1\"").arg(it.key());
            return false;
        }
    }
    *versions = list;
    return true;
}

int modelOfName(const QString& name)
{
    // A report written by hand or by a script may name its models as any program prints them.
    return modelIdFromName(name);
}

// Where in the text of a report the reader finds what an error is about: the line of a
// camera's key, or of the camera itself. The JSON reader gives no places but for the text's
// own faults, so the keys are looked for in the text, camera by camera.
class ReportText
{
public:
    explicit ReportText(const QByteArray& text)
        : m_text(text)
    {
        qsizetype at = m_text.indexOf("\"cameras\"");
        while (at >= 0 && (at = m_text.indexOf("\"address\"", at + 1)) >= 0)
            m_cameras.push_back(at);
    }

    int lineAt(qsizetype offset) const { return offset < 0 ? 0 : int(m_text.left(offset).count('\n')) + 1; }

    // The line of `key` in camera `index`, or of the camera when the key is not there.
    int lineOf(int index, const char* key) const
    {
        if (index < 0 || std::size_t(index) >= m_cameras.size())
            return 0;
        const qsizetype start = m_cameras[std::size_t(index)];
        const qsizetype next = std::size_t(index) + 1 < m_cameras.size() ? m_cameras[std::size_t(index) + 1] : m_text.size();
        // The camera's object begins before its address: look back to its brace.
        const qsizetype open = m_text.lastIndexOf('{', start);
        const qsizetype found = key ? m_text.indexOf(QByteArray("\"") + key + '"', open < 0 ? start : open) : -1;
        return lineAt(found >= 0 && found < next ? found : start);
    }

private:
    QByteArray m_text;
    std::vector<qsizetype> m_cameras;
};

struct ReadError {
    QString what;
    const char* key = nullptr;  // the camera's key it is about; null: the camera
};

bool readCamera(const QJsonObject& o, CameraReport* r, ReadError* error)
{
    const auto fail = [error](const QString& what, const char* key) {
        *error = {what, key};
        return false;
    };
    r->address = o.value(QStringLiteral("address")).toString();
    if (r->address.isEmpty())
        return fail(QStringLiteral("a camera without an address"), nullptr);
    const QString where = QStringLiteral("camera %1: ").arg(r->address);
    const QString model = o.value(QStringLiteral("model")).toString();
    r->model = modelOfName(model);
    if (!model.isEmpty() && r->model == 0)
        return fail(where + QStringLiteral("unknown model \"%1\"").arg(model), "model");
    const QJsonValue end = o.value(QStringLiteral("end"));
    if (!end.isString())
        return fail(where + QStringLiteral("no end"), nullptr);
    if (!fleetEndFromName(end.toString(), &r->end))
        return fail(where + QStringLiteral("unknown end \"%1\"").arg(end.toString()), "end");
    for (const char* flag : {"verified", "canary", "carried_over"}) {
        const QJsonValue value = o.value(QLatin1String(flag));
        if (!value.isUndefined() && !value.isBool())
            return fail(where + QStringLiteral("\"%1\" is neither true nor false").arg(QLatin1String(flag)), flag);
    }
    r->message = o.value(QStringLiteral("message")).toString();
    r->reason = o.value(QStringLiteral("reason")).toString();
    r->verified = o.value(QStringLiteral("verified")).toBool();
    r->canary = o.value(QStringLiteral("canary")).toBool();
    r->carriedOver = o.value(QStringLiteral("carried_over")).toBool();
    r->credentialSource = o.value(QStringLiteral("credentials")).toString();
    if (!readTime(o.value(QStringLiteral("started")), &r->started))
        return fail(where + QStringLiteral("a time that is not ISO 8601"), "started");
    if (!readTime(o.value(QStringLiteral("ended")), &r->ended))
        return fail(where + QStringLiteral("a time that is not ISO 8601"), "ended");
    if (!readTime(o.value(QStringLiteral("verification_started")), &r->verificationStarted))
        return fail(where + QStringLiteral("a time that is not ISO 8601"), "verification_started");
    QString why;
    if (!readVersions(o.value(QStringLiteral("versions_before")), &r->before, &why))
        return fail(where + why, "versions_before");
    if (!readVersions(o.value(QStringLiteral("versions_after")), &r->after, &why))
        return fail(where + why, "versions_after");
    const QJsonValue files = o.value(QStringLiteral("files"));
    if (!files.isUndefined() && !files.isArray())
        return fail(where + QStringLiteral("files that are not a list"), "files");
    for (const QJsonValue& v : files.toArray()) {
        const QJsonObject fo = v.toObject();
        ReportedFile f;
        f.component = componentIndexOfKey(fo.value(QStringLiteral("component")).toString());
        if (!v.isObject() || f.component < 0 || !fileResultFromName(fo.value(QStringLiteral("result")).toString(), &f.result))
            return fail(where + QStringLiteral("a file with an unknown component or result"), "files");
        f.fileName = fo.value(QStringLiteral("file")).toString();
        f.version = fo.value(QStringLiteral("version")).toString();
        f.before = fo.value(QStringLiteral("version_before")).toString();
        f.size = fo.value(QStringLiteral("size")).isDouble() ? qint64(fo.value(QStringLiteral("size")).toDouble()) : -1;
        f.sha256 = fo.value(QStringLiteral("sha256")).toString();
        f.uploadSeconds = fo.value(QStringLiteral("upload_seconds")).isDouble() ? fo.value(QStringLiteral("upload_seconds")).toDouble() : -1;
        if (!readSeconds(fo.value(QStringLiteral("restart_seconds")), &f.restartSeconds))
            return fail(where + QStringLiteral("a file's restart time that is not a number of seconds"), "restart_seconds");
        // A report of an older version names no acceptance: a file it counts as sent was
        // answered, or at least posted, and is never to be sent again.
        const QJsonValue accepted = fo.value(QStringLiteral("accepted"));
        f.accepted = accepted.isBool() ? accepted.toBool() : f.result != FileResult::NotSent && f.result != FileResult::Failed;
        f.earlier = fo.value(QStringLiteral("earlier_run")).toBool();
        r->files.push_back(f);
    }
    return true;
}

// ---- CSV ----

// A line break is a control character too: a camera's text never spreads a row over lines,
// and a tab or CR can no longer start a cell.
QByteArray csvCell(const QString& cell)
{
    QString text = displaySafe(cell);
    static const QString formulaStarts = QStringLiteral("=+-@");
    if (!text.isEmpty() && formulaStarts.contains(text.front()))
        text.prepend(QLatin1Char('\''));
    if (text.contains(QLatin1Char('"')) || text.contains(QLatin1Char(','))) {
        text.replace(QStringLiteral("\""), QStringLiteral("\"\""));
        text = QLatin1Char('"') + text + QLatin1Char('"');
    }
    return text.toUtf8();
}

QByteArray csvRow(const QStringList& cells)
{
    QByteArray row;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        if (i > 0)
            row += ',';
        row += csvCell(cells[i]);
    }
    return row + "\r\n";
}

QString numberOr(double value, int decimals)
{
    return value >= 0 ? QString::number(value, 'f', decimals) : QString();
}

} // namespace

QString fleetModelName(int model)
{
    return isValidModelId(model) ? checkModelName(model) : QString();
}

QString sumsStateName(FolderSums::State state)
{
    return kelvora::nameOf(kSumsNames, state);
}

QString fileResultName(FileResult result)
{
    return kelvora::nameOf(kResultNames, result);
}

bool fileResultFromName(const QString& name, FileResult* result)
{
    return kelvora::valueOfName(kResultNames, name, result);
}

QStringList versionList(const cam_info& camera)
{
    QStringList versions;
    for (int i = 0; i < kComponentCount; ++i)
        versions << cameraVersion(camera, i);
    return versions;
}

QString utcText(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

CameraReport reportFromPlan(const PlanEntry& entry)
{
    if (entry.carriedOver) {
        CameraReport report = entry.earlier;
        report.carriedOver = true;
        report.canary = false;
        return report;
    }
    CameraReport report;
    report.address = entry.scan.address;
    for (ReportedFile f : entry.takenBefore) {
        f.earlier = true;
        f.accepted = true;
        f.result = FileResult::Sent;
        report.files.push_back(f);
    }
    if (!entry.scan.ok) {
        report.end = FleetEnd::Unreachable;
        report.message = fleetEndMessage(FleetEnd::Unreachable);
        report.reason = entry.scan.error;
        return report;
    }
    report.model = entry.scan.camera.ModelID;
    report.before = versionList(entry.scan.camera);
    if (!entry.plan.valid) {
        report.end = entry.plan.end;
        report.message = entry.plan.message;
        report.reason = entry.plan.reason;
        if (entry.plan.end == FleetEnd::Completed)
            noteVerification(report, true, entry.scan.camera);
        return report;
    }
    report.end = FleetEnd::Pending;
    report.credentialSource = entry.credentialSource;
    for (const PlannedFile& f : entry.plan.files) {
        ReportedFile file;
        file.component = f.component;
        file.fileName = f.fileName;
        file.version = f.version;
        file.before = f.cameraVersion;
        file.size = f.size;
        file.sha256 = f.sha256;
        report.files.push_back(file);
    }
    return report;
}

void noteFileStarted(CameraReport& report, int index)
{
    for (int k = 0; k < index && k < int(report.files.size()); ++k)
        report.files[std::size_t(k)].result = FileResult::Sent;
}

void noteRunEnded(CameraReport& report, FleetEnd end, const QString& message, int current, FileResult currentResult)
{
    report.end = end;
    report.message = message;
    if (end == FleetEnd::Completed) {
        noteFileStarted(report, int(report.files.size()));
        return;
    }
    noteFileStarted(report, current);
    if (current >= 0 && current < int(report.files.size()))
        report.files[std::size_t(current)].result = currentResult;
}

void noteVerification(CameraReport& report, bool answered, const cam_info& after)
{
    bool all = answered && !report.files.empty();
    bool any = false;
    for (ReportedFile& f : report.files) {
        if (answered && f.result == FileResult::Sent) {
            const QString now = cameraVersion(after, f.component);
            f.result = now.isEmpty() && f.before.isEmpty() ? FileResult::NotReported
                : now == f.version                          ? FileResult::Verified
                                                            : FileResult::Mismatch;
        }
        any = any || f.result == FileResult::Verified;
        all = all && (f.result == FileResult::Verified || f.result == FileResult::NotReported);
    }
    report.verified = all && any;
    if (answered)
        report.after = versionList(after);
}


QByteArray scanJson(const std::vector<ScanResult>& results)
{
    QJsonArray cameras;
    for (const ScanResult& r : results) {
        QJsonObject versions;
        if (r.ok) {
            for (int i = 0; i < kComponentCount; ++i) {
                const QString& v = cameraVersion(r.camera, i);
                if (!v.isEmpty())
                    versions.insert(componentKey(i), v);
            }
        }
        cameras.append(QJsonObject{
            {QStringLiteral("address"), r.address},
            {QStringLiteral("ok"), r.ok},
            {QStringLiteral("model"), r.ok ? fleetModelName(r.camera.ModelID) : QString()},
            {QStringLiteral("display"), r.ok && isValidModelId(r.camera.ModelID) ? modelDisplayName(r.camera.ModelID) : QString()},
            {QStringLiteral("versions"), versions},
            {QStringLiteral("error"), r.ok ? QString() : r.error},
        });
    }
    return QJsonDocument(camerasDocument(cameras)).toJson(QJsonDocument::Indented);
}


QByteArray planJson(const std::vector<PlanEntry>& entries)
{
    QJsonArray cameras;
    for (const PlanEntry& e : entries) {
        const CameraPlan& p = e.plan;
        const bool ok = e.scan.ok && p.valid;
        QJsonObject camera{
            {QStringLiteral("address"), e.scan.address},
            {QStringLiteral("ok"), ok},
            {QStringLiteral("model"), e.scan.ok ? fleetModelName(e.scan.camera.ModelID) : QString()},
            {QStringLiteral("display"), e.scan.ok && isValidModelId(e.scan.camera.ModelID) ? modelDisplayName(e.scan.camera.ModelID) : QString()},
            {QStringLiteral("section"), e.scan.ok ? p.section : QString()},
            {QStringLiteral("versions_accepted"), e.scan.ok && p.versionsAccepted},
        };
        if (!ok) {
            camera.insert(QStringLiteral("end"), fleetEndName(e.scan.ok ? p.end : FleetEnd::Unreachable));
            camera.insert(QStringLiteral("message"), e.scan.ok ? p.message : fleetEndMessage(FleetEnd::Unreachable));
            camera.insert(QStringLiteral("reason"), e.scan.ok ? p.reason : e.scan.error);
        }
        QJsonArray files;
        for (const PlannedFile& f : ok ? p.files : std::vector<PlannedFile>()) {
            files.append(QJsonObject{{QStringLiteral("component"), componentKey(f.component)},
                                     {QStringLiteral("file"), f.fileName},
                                     {QStringLiteral("version"), f.version},
                                     {QStringLiteral("vupno"), int(f.vupno)},
                                     {QStringLiteral("camera_version"), f.cameraVersion}});
        }
        camera.insert(QStringLiteral("files"), files);
        cameras.append(camera);
    }
    return QJsonDocument(camerasDocument(cameras)).toJson(QJsonDocument::Indented);
}


QByteArray reportJson(const FleetReport& report)
{
    return QJsonDocument(reportObject(report)).toJson(QJsonDocument::Indented);
}

QByteArray reportJsonLine(const FleetReport& report)
{
    return QJsonDocument(reportObject(report)).toJson(QJsonDocument::Compact);
}

bool parseReport(const QByteArray& json, FleetReport* report, QString* error, int* errorLine)
{
    const ReportText text(json);
    const auto fail = [&](const QString& what, int line) {
        *error = what;
        if (errorLine)
            *errorLine = line;
        return false;
    };
    QJsonParseError parsed;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parsed);
    if (parsed.error != QJsonParseError::NoError) {
        // A report cut short (a full disk, a copy that stopped) fails at its very end: said
        // so, rather than as a puzzle about the last byte.
        qsizetype last = json.size();
        while (last > 0 && QChar::isSpace(uchar(json.at(last - 1))))
            --last;
        const bool cut = parsed.offset >= last - 1;
        return fail(cut ? QStringLiteral("cut short: the report ends before its last camera is whole")
                        : QStringLiteral("not JSON (%1 at byte %2)").arg(parsed.errorString()).arg(parsed.offset),
                    text.lineAt(parsed.offset));
    }
    const QJsonObject o = doc.object();
    if (!doc.isObject() || !o.value(QStringLiteral("cameras")).isArray())
        return fail(QStringLiteral("not a report of kelvora-fleet update (no \"cameras\" list)"), 0);
    FleetReport r;
    r.run.tool = o.value(QStringLiteral("tool")).toString();
    r.run.version = o.value(QStringLiteral("version")).toString();
    r.run.folder = o.value(QStringLiteral("folder")).toString();
    r.run.listSha256 = o.value(QStringLiteral("list_sha256")).toString();
    const QJsonValue sums = o.value(QStringLiteral("sums"));
    r.run.sums = sums.toString();
    FolderSums::State sumsState = FolderSums::Absent;
    if (!sums.isNull() && !sums.isUndefined() && !kelvora::valueOfName(kSumsNames, r.run.sums, &sumsState))
        return fail(QStringLiteral("\"sums\" is neither \"checked\", \"none\" nor \"unreadable\""), 0);
    r.run.choice.all = o.value(QStringLiteral("all")).toBool();
    for (const QJsonValue& key : o.value(QStringLiteral("only")).toArray()) {
        const int c = componentIndexOfKey(key.toString());
        if (c < 0)
            return fail(QStringLiteral("an unknown component \"%1\" in \"only\"").arg(key.toString()), 0);
        r.run.choice.only.insert(c);
    }
    for (auto [key, value] : {std::pair<const char*, int*>{"parallel", &r.run.parallel}, {"canary", &r.run.canary},
                              {"max_failures", &r.run.maxFailures}}) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isUndefined() && (!v.isDouble() || v.toDouble() < 0 || v.toDouble() != std::floor(v.toDouble())))
            return fail(QStringLiteral("\"%1\" is not a count").arg(QLatin1String(key)), 0);
        *value = v.toInt();
    }
    if (!readTime(o.value(QStringLiteral("started")), &r.run.started) || !readTime(o.value(QStringLiteral("ended")), &r.run.ended))
        return fail(QStringLiteral("a run time that is not ISO 8601"), 0);
    int index = 0;
    for (const QJsonValue& v : o.value(QStringLiteral("cameras")).toArray()) {
        CameraReport camera;
        ReadError why;
        if (!v.isObject())
            return fail(QStringLiteral("a camera that is not an object"), text.lineOf(index, nullptr));
        if (!readCamera(v.toObject(), &camera, &why))
            return fail(why.what, text.lineOf(index, why.key));
        r.cameras.push_back(camera);
        ++index;
    }
    *report = r;
    return true;
}

bool readReport(const QString& path, FleetReport* report, QString* error)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("does not exist");
        return false;
    }
    // A FIFO or device would hold the read; a huge file is not a report.
    if (!info.isFile()) {
        *error = QStringLiteral("is not a regular file");
        return false;
    }
    if (info.size() > kMaxReportBytes) {
        *error = QStringLiteral("is larger than a report can be");
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    int line = 0;
    if (parseReport(file.read(kMaxReportBytes + 1), report, error, &line))
        return true;
    if (line > 0)
        *error = QStringLiteral("line %1: %2").arg(line).arg(*error);
    return false;
}

QByteArray scanCsv(const std::vector<ScanResult>& results)
{
    QStringList head{QStringLiteral("address"), QStringLiteral("ok"), QStringLiteral("model"), QStringLiteral("display")};
    for (int i = 0; i < kComponentCount; ++i)
        head << componentKey(i);
    head << QStringLiteral("error");
    QByteArray out = csvRow(head);
    for (const ScanResult& r : results) {
        QStringList row{r.address, r.ok ? QStringLiteral("yes") : QStringLiteral("no"),
                        r.ok ? fleetModelName(r.camera.ModelID) : QString(),
                        r.ok && isValidModelId(r.camera.ModelID) ? modelDisplayName(r.camera.ModelID) : QString()};
        for (int i = 0; i < kComponentCount; ++i)
            row << (r.ok ? cameraVersion(r.camera, i) : QString());
        row << (r.ok ? QString() : r.error);
        out += csvRow(row);
    }
    return out;
}

QByteArray reportCsvHeader()
{
    return csvRow({QStringLiteral("run_started"), QStringLiteral("folder"), QStringLiteral("address"),
                   QStringLiteral("model"), QStringLiteral("end"), QStringLiteral("verified"),
                   QStringLiteral("credentials"), QStringLiteral("camera_started"), QStringLiteral("camera_ended"),
                   QStringLiteral("component"), QStringLiteral("file"), QStringLiteral("version"),
                   QStringLiteral("version_before"), QStringLiteral("version_after"), QStringLiteral("result"),
                   QStringLiteral("size"), QStringLiteral("sha256"), QStringLiteral("upload_seconds"),
                   QStringLiteral("message"), QStringLiteral("reason")});
}

QByteArray reportCsvRows(const FleetReport& report)
{
    QByteArray out;
    const QString runStarted = report.run.started.isValid() ? utcText(report.run.started) : QString();
    for (const CameraReport& r : report.cameras) {
        const QStringList camera{runStarted, report.run.folder, r.address, fleetModelName(r.model), fleetEndName(r.end),
                                 r.verified ? QStringLiteral("yes") : QStringLiteral("no"), r.credentialSource,
                                 r.started.isValid() ? utcText(r.started) : QString(),
                                 r.ended.isValid() ? utcText(r.ended) : QString()};
        const QStringList tail{r.message, r.reason};
        if (r.files.empty()) {
            out += csvRow(camera + QStringList(9, QString()) + tail);
            continue;
        }
        for (const ReportedFile& f : r.files) {
            out += csvRow(camera
                          + QStringList{componentKey(f.component), f.fileName, f.version, f.before,
                                        r.after.value(f.component), fileResultName(f.result),
                                        f.size >= 0 ? QString::number(f.size) : QString(), f.sha256,
                                        numberOr(f.uploadSeconds, 3)}
                          + tail);
        }
    }
    return out;
}
