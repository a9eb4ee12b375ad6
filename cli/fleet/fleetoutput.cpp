#include "cli/fleet/fleetoutput.h"

#include "launch/componentversions.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <array>

namespace {

// Column heads of the nine versions in the scan table, in component order.
constexpr std::array<const char*, kComponentCount> kVersionHeads{
    {"CAM", "NET", "SERVO", "IF-CPU", "FRONT", "BACK", "LENS", "CAM-EEP", "IF-EEP"}};

QString keyOf(int component)
{
    return QLatin1String(kComponents[std::size_t(component)].key);
}

// Rows padded to their columns' widths, two blanks apart. A row shorter than the head
// ends in free text: its last cell sets no column's width.
QString formatTable(const QList<QStringList>& rows)
{
    const qsizetype columns = rows.isEmpty() ? 0 : rows.first().size();
    QList<qsizetype> widths(columns, 0);
    for (const QStringList& row : rows) {
        const qsizetype counted = row.size() < columns ? row.size() - 1 : row.size();
        for (qsizetype i = 0; i < counted; ++i)
            widths[i] = qMax(widths[i], row[i].size());
    }
    QString out;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (i > 0)
                line += QStringLiteral("  ");
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i]) : row[i];
        }
        out += line + QLatin1Char('\n');
    }
    return out;
}

QString modelName(int model)
{
    return isValidModelId(model) ? checkModelName(model) : QString();
}

QString textOr(const QString& text, const char* absent)
{
    return text.isEmpty() ? QLatin1String(absent) : text;
}

QJsonObject camerasDocument(const QJsonArray& cameras)
{
    return QJsonObject{{QStringLiteral("cameras"), cameras}};
}

} // namespace

QString fileResultName(FileResult result)
{
    switch (result) {
    case FileResult::NotSent: return QStringLiteral("not-sent");
    case FileResult::NotReported: return QStringLiteral("not-reported");
    case FileResult::Sent: return QStringLiteral("sent");
    case FileResult::Failed: return QStringLiteral("failed");
    case FileResult::Verified: return QStringLiteral("verified");
    case FileResult::Mismatch: break;
    }
    return QStringLiteral("mismatch");
}

CameraReport reportFromPlan(const PlanEntry& entry)
{
    CameraReport report;
    report.address = entry.scan.address;
    if (!entry.scan.ok) {
        report.end = FleetEnd::Unreachable;
        report.message = fleetEndMessage(FleetEnd::Unreachable);
        report.reason = entry.scan.error;
        return report;
    }
    report.model = entry.scan.camera.ModelID;
    if (!entry.plan.valid) {
        report.end = entry.plan.end;
        report.message = entry.plan.message;
        report.reason = entry.plan.reason;
        return report;
    }
    report.end = FleetEnd::Stopped;
    for (const PlannedFile& f : entry.plan.files)
        report.files.push_back({f.component, f.fileName, f.version, FileResult::NotSent, f.cameraVersion});
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
}

QString scanTable(const std::vector<ScanResult>& results)
{
    QList<QStringList> rows;
    QStringList head{QStringLiteral("ADDRESS"), QStringLiteral("MODEL")};
    for (const char* h : kVersionHeads)
        head << QLatin1String(h);
    rows << head;
    for (const ScanResult& r : results) {
        if (!r.ok) {
            rows << QStringList{r.address, r.error};
            continue;
        }
        QStringList row{r.address, modelName(r.camera.ModelID)};
        for (int i = 0; i < kComponentCount; ++i)
            row << textOr(cameraVersion(r.camera, i), "-");
        rows << row;
    }
    return formatTable(rows);
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
                    versions.insert(keyOf(i), v);
            }
        }
        cameras.append(QJsonObject{
            {QStringLiteral("address"), r.address},
            {QStringLiteral("ok"), r.ok},
            {QStringLiteral("model"), r.ok ? modelName(r.camera.ModelID) : QString()},
            {QStringLiteral("display"), r.ok && isValidModelId(r.camera.ModelID) ? modelDisplayName(r.camera.ModelID) : QString()},
            {QStringLiteral("versions"), versions},
            {QStringLiteral("error"), r.ok ? QString() : r.error},
        });
    }
    return QJsonDocument(camerasDocument(cameras)).toJson(QJsonDocument::Indented);
}

QString planTable(const std::vector<PlanEntry>& entries)
{
    QString out;
    for (const PlanEntry& e : entries) {
        if (!e.scan.ok) {
            out += QStringLiteral("%1  unreachable: %2\n").arg(e.scan.address, e.scan.error);
            continue;
        }
        const CameraPlan& p = e.plan;
        QString head = e.scan.address + QStringLiteral("  ") + textOr(modelName(e.scan.camera.ModelID), "unknown model");
        if (!p.section.isEmpty())
            head += QStringLiteral("  [%1]").arg(p.section);
        if (!p.valid) {
            out += head + QStringLiteral("  %1: %2 (%3)\n").arg(fleetEndName(p.end), p.reason, p.message);
            continue;
        }
        out += head + QStringLiteral("  versions accepted, %1 to send\n")
                          .arg(p.files.size() == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(p.files.size()));
        QList<QStringList> rows{{QString(), QString(), QString(), QString(), QString(), QString()}};
        for (std::size_t k = 0; k < p.files.size(); ++k) {
            const PlannedFile& f = p.files[k];
            rows << QStringList{QStringLiteral("   %1.").arg(k + 1), keyOf(f.component), f.fileName, f.version,
                                QStringLiteral("(camera %1)").arg(textOr(f.cameraVersion, "-")),
                                QStringLiteral("vupno %1").arg(f.vupno)};
        }
        const QString table = formatTable(rows);
        out += table.mid(table.indexOf(QLatin1Char('\n')) + 1);
    }
    return out;
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
            {QStringLiteral("model"), e.scan.ok ? modelName(e.scan.camera.ModelID) : QString()},
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
            files.append(QJsonObject{{QStringLiteral("component"), keyOf(f.component)},
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

QString summaryTable(const std::vector<CameraReport>& reports)
{
    QList<QStringList> rows{{QStringLiteral("ADDRESS"), QStringLiteral("MODEL"), QStringLiteral("END"),
                             QStringLiteral("VERIFIED"), QStringLiteral("FILES"), QStringLiteral("MESSAGE")}};
    for (const CameraReport& r : reports) {
        int verified = 0;
        for (const ReportedFile& f : r.files)
            verified += f.result == FileResult::Verified ? 1 : 0;
        rows << QStringList{r.address, textOr(modelName(r.model), "-"), fleetEndName(r.end),
                            r.verified ? QStringLiteral("yes") : QStringLiteral("no"),
                            r.files.empty() ? QStringLiteral("-") : QStringLiteral("%1/%2").arg(verified).arg(r.files.size()),
                            r.reason.isEmpty() ? r.message
                            : r.message.isEmpty() ? r.reason
                                                  : QStringLiteral("%1 (%2)").arg(r.message, r.reason)};
    }
    return formatTable(rows);
}

QByteArray reportJson(const std::vector<CameraReport>& reports)
{
    QJsonArray cameras;
    for (const CameraReport& r : reports) {
        QJsonArray files;
        for (const ReportedFile& f : r.files) {
            files.append(QJsonObject{{QStringLiteral("component"), keyOf(f.component)},
                                     {QStringLiteral("file"), f.fileName},
                                     {QStringLiteral("version"), f.version},
                                     {QStringLiteral("result"), fileResultName(f.result)}});
        }
        cameras.append(QJsonObject{{QStringLiteral("address"), r.address},
                                   {QStringLiteral("model"), modelName(r.model)},
                                   {QStringLiteral("end"), fleetEndName(r.end)},
                                   {QStringLiteral("message"), r.message},
                                   {QStringLiteral("verified"), r.verified},
                                   {QStringLiteral("files"), files}});
    }
    return QJsonDocument(camerasDocument(cameras)).toJson(QJsonDocument::Indented);
}

bool writeReport(const QString& path, const std::vector<CameraReport>& reports, QString* error)
{
    QSaveFile file(path);
    const QByteArray bytes = reportJson(reports);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
