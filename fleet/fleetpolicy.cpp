#include "fleet/fleetpolicy.h"

#include "camera/inquiry.h"
#include "update/uploadplan.h"

#include <QDir>
#include <QtGlobal>

#include <algorithm>

namespace {

bool quiet(FleetEnd end)
{
    return end == FleetEnd::UpToDate || end == FleetEnd::NothingToSend;
}

bool completedAndVerified(const CameraReport& report)
{
    return report.end == FleetEnd::Completed && report.verified;
}

QString onlyText(const PlanChoice& choice)
{
    if (choice.only.isEmpty())
        return choice.all ? QStringLiteral("--all") : QStringLiteral("the components that differ");
    QList<int> keys(choice.only.begin(), choice.only.end());
    std::sort(keys.begin(), keys.end());
    QStringList names;
    for (int c : keys)
        names << componentKey(c);
    return (choice.all ? QStringLiteral("--all --only ") : QStringLiteral("--only ")) + names.join(QLatin1Char(','));
}

} // namespace

bool cameraDone(const CameraReport& report)
{
    return completedAndVerified(report) || quiet(report.end);
}

bool cameraFailed(const CameraReport& report)
{
    if (!report.started.isValid() || report.end == FleetEnd::Stopped || report.end == FleetEnd::Pending)
        return false;
    return !completedAndVerified(report);
}

std::vector<int> canaryCameras(const std::vector<PlanEntry>& entries, int count)
{
    std::vector<int> canary;
    for (int i = 0; i < int(entries.size()) && int(canary.size()) < count; ++i) {
        const PlanEntry& e = entries[std::size_t(i)];
        if (!e.carriedOver && e.scan.ok && e.plan.valid)
            canary.push_back(i);
    }
    return canary;
}

bool canaryPassed(const CameraReport& report)
{
    return completedAndVerified(report);
}

bool resumeSkips(const CameraReport& report)
{
    return completedAndVerified(report) || report.end == FleetEnd::UpToDate;
}

std::vector<ReportedFile> filesTakenBefore(const CameraReport& earlier)
{
    std::vector<ReportedFile> taken;
    for (const ReportedFile& f : earlier.files) {
        if (f.accepted)
            taken.push_back(f);
    }
    return taken;
}

int comeBackSeconds(const CameraReport& earlier)
{
    // A run that ended by its own rules followed the camera to its end; one killed, or
    // stopped at once, may have left it writing its last file.
    if (earlier.end != FleetEnd::Pending && earlier.end != FleetEnd::Stopped)
        return 0;
    const std::vector<ReportedFile> taken = filesTakenBefore(earlier);
    return taken.empty() ? 0 : resetWaitTimeout(fileExtension(taken.back().fileName), earlier.model);
}

QStringList resumeChanges(const FleetReport& earlier, const QString& folder, const QString& listSha256,
                          const PlanChoice* choiceGiven, const std::function<QString(const QString&)>& sha256Now)
{
    QStringList changes;
    if (QDir::cleanPath(folder) != QDir::cleanPath(earlier.run.folder))
        changes << QStringLiteral("the folder is %1, the report's %2").arg(folder, earlier.run.folder);
    if (choiceGiven && (choiceGiven->all != earlier.run.choice.all || choiceGiven->only != earlier.run.choice.only))
        changes << QStringLiteral("the components asked for are %1, the report's %2")
                       .arg(onlyText(*choiceGiven), onlyText(earlier.run.choice));
    if (!earlier.run.listSha256.isEmpty() && listSha256 != earlier.run.listSha256)
        changes << QStringLiteral("the folder's list file has changed since the report was written");
    // Every file the report names with its digest, once: it is what was, or would have been, sent.
    QStringList checked;
    for (const CameraReport& camera : earlier.cameras) {
        for (const ReportedFile& f : camera.files) {
            if (f.sha256.isEmpty() || checked.contains(f.fileName))
                continue;
            checked << f.fileName;
            const QString now = sha256Now(f.fileName);
            if (now.isEmpty())
                changes << QStringLiteral("%1 cannot be read any more").arg(f.fileName);
            else if (now != f.sha256)
                changes << QStringLiteral("%1 has changed (SHA-256 %2, the report's %3)").arg(f.fileName, now, f.sha256);
        }
    }
    return changes;
}

int filesPerCamera()
{
    // One network version inquiry a tick (1 s), each alive for at most its bound, and the
    // one of the tick at which the oldest ends.
    const int versionInquiries = kInquiryTimeoutMs / 1000 + 1;
    return versionInquiries + 3;
}

int parallelWithin(int wanted, qint64 openFileLimit, qint64 held)
{
    const qint64 fits = (openFileLimit - kFilesReserved - held) / filesPerCamera();
    return int(qBound(qint64(1), fits, qint64(wanted)));
}

int updateExitStatus(const std::vector<CameraReport>& reports)
{
    return std::all_of(reports.begin(), reports.end(), cameraDone) ? 0 : 1;
}

int planExitStatus(const std::vector<PlanEntry>& entries)
{
    const bool all = std::all_of(entries.begin(), entries.end(), [](const PlanEntry& e) {
        return e.carriedOver || (e.scan.ok && (e.plan.valid || quiet(e.plan.end) || e.plan.end == FleetEnd::Completed));
    });
    return all ? 0 : 1;
}
