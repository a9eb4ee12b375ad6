#include "fleet/fleetreport.h"

#include "launch/componentversions.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

QJsonObject camerasDocument(const QJsonArray& cameras)
{
    return QJsonObject{{QStringLiteral("cameras"), cameras}};
}

} // namespace

QString fleetModelName(int model)
{
    return isValidModelId(model) ? checkModelName(model) : QString();
}

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

QByteArray reportJson(const std::vector<CameraReport>& reports)
{
    QJsonArray cameras;
    for (const CameraReport& r : reports) {
        QJsonArray files;
        for (const ReportedFile& f : r.files) {
            files.append(QJsonObject{{QStringLiteral("component"), componentKey(f.component)},
                                     {QStringLiteral("file"), f.fileName},
                                     {QStringLiteral("version"), f.version},
                                     {QStringLiteral("result"), fileResultName(f.result)}});
        }
        cameras.append(QJsonObject{{QStringLiteral("address"), r.address},
                                   {QStringLiteral("model"), fleetModelName(r.model)},
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
