#include "fleet/fleetpolicy.h"

#include <QtGlobal>

#include <algorithm>

namespace {

bool quiet(FleetEnd end)
{
    return end == FleetEnd::UpToDate || end == FleetEnd::NothingToSend;
}

} // namespace

bool cameraDone(const CameraReport& report)
{
    return (report.end == FleetEnd::Completed && report.verified) || quiet(report.end);
}

bool cameraFailed(const CameraReport& report)
{
    if (!report.started.isValid() || report.end == FleetEnd::Stopped || report.end == FleetEnd::Pending)
        return false;
    return !(report.end == FleetEnd::Completed && report.verified);
}

bool canaryPassed(const CameraReport& report)
{
    return (report.end == FleetEnd::Completed && report.verified) || report.end == FleetEnd::UpToDate;
}

bool resumeSkips(const CameraReport& report)
{
    return canaryPassed(report);
}

int parallelWithin(int wanted, qint64 openFileLimit)
{
    const qint64 fits = (openFileLimit - kFilesReserved) / kFilesPerCamera;
    return int(qBound(qint64(1), fits, qint64(wanted)));
}

int updateExitStatus(const std::vector<CameraReport>& reports)
{
    return std::all_of(reports.begin(), reports.end(), cameraDone) ? 0 : 1;
}

int planExitStatus(const std::vector<PlanEntry>& entries)
{
    const bool all = std::all_of(entries.begin(), entries.end(), [](const PlanEntry& e) {
        return e.scan.ok && (e.plan.valid || quiet(e.plan.end));
    });
    return all ? 0 : 1;
}
