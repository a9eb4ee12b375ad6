#ifndef KELVORA_FLEET_FLEETOUTPUT_H
#define KELVORA_FLEET_FLEETOUTPUT_H

// What kelvora-fleet prints for people: the scan, the plan, the summary and the history as
// tables, from the same records the JSON and CSV are written from.

#include "fleet/fleetreport.h"

#include <QString>

#include <vector>

QString scanTable(const std::vector<ScanResult>& results);
QString planTable(const std::vector<PlanEntry>& entries);
QString summaryTable(const std::vector<CameraReport>& reports);
// The run a report comes from: tool, version, folder, start and end.
QString runHeader(const RunInfo& run);
// Per camera and update, oldest first: when, how it ended and what was sent.
QString historyTable(const std::vector<FleetReport>& reports);

#endif
