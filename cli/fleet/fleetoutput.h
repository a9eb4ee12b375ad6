#ifndef KELVORA_FLEET_FLEETOUTPUT_H
#define KELVORA_FLEET_FLEETOUTPUT_H

// What kelvora-fleet prints for people: the scan, the plan and the summary as tables.

#include "fleet/fleetreport.h"

#include <QString>

#include <vector>

QString scanTable(const std::vector<ScanResult>& results);
QString planTable(const std::vector<PlanEntry>& entries);
QString summaryTable(const std::vector<CameraReport>& reports);

#endif
