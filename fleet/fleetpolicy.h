#ifndef KELVORA_FLEET_FLEETPOLICY_H
#define KELVORA_FLEET_FLEETPOLICY_H

// The fleet's rules over camera reports, each a small pure function: which ends count as
// done, which as failed, when a canary lets the rest start, what a resumed update leaves
// alone and what each command's exit status is. The driver, the program and the soak ask
// these rather than testing ends themselves, so a rule changes in one place.

#include "fleet/fleetreport.h"

#include <vector>

// Nothing is left to do for the camera: completed and verified, up to date, or nothing to
// send for what was asked. Anything else makes `update` exit 1.
bool cameraDone(const CameraReport& report);

// The camera's update went wrong after it started: a failed run, or a completed run whose
// versions did not verify. Counted against --max-failures. A camera that never started
// (unreachable, refused plan, held back) or that the operator stopped is not counted: the
// budget guards against firmware that harms cameras, not against cameras that are offline.
bool cameraFailed(const CameraReport& report);

// A canary lets the others start only when it ended completed and verified, or up to date.
bool canaryPassed(const CameraReport& report);

// A resumed update leaves a camera alone that ended completed and verified, or up to date;
// every other one is asked afresh.
bool resumeSkips(const CameraReport& report);

// Open files one camera at work may hold: its inquiry's connection, its upload's, its log
// file, and one to spare for a connection being replaced.
inline constexpr int kFilesPerCamera = 4;
// Open files the process keeps for itself: standard streams, the report, the firmware
// files being read, the event loop's own.
inline constexpr int kFilesReserved = 64;

// How many cameras may be at work at once under an open-file limit: `wanted`, or fewer when
// the limit would be reached (at least 1). A camera that could not open its connection
// would fail for the tool's sake, not the camera's.
int parallelWithin(int wanted, qint64 openFileLimit);

// Exit status of `update`: 0 when every camera is done, 1 otherwise.
int updateExitStatus(const std::vector<CameraReport>& reports);
// Exit status of `plan`: 0 when every camera has a plan or nothing to do, 1 otherwise.
int planExitStatus(const std::vector<PlanEntry>& entries);

#endif
