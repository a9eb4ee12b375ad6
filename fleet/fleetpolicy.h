#ifndef KELVORA_FLEET_FLEETPOLICY_H
#define KELVORA_FLEET_FLEETPOLICY_H

// The fleet's rules over plans and camera reports, each a small pure function: which ends
// count as done, which as failed, which cameras are the canary and when it lets the rest
// start, what a resumed update leaves alone, never sends again and waits for, how many
// cameras may be at work under an open-file limit, and what each command's exit status is.
// The driver, the program and the soak ask these rather than testing ends themselves, so a
// rule changes in one place.

#include "fleet/fleetreport.h"

#include <QSet>
#include <QStringList>

#include <functional>
#include <vector>

// Nothing is left to do for the camera: completed and verified, up to date, or nothing to
// send for what was asked. Anything else makes `update` exit 1.
bool cameraDone(const CameraReport& report);

// The camera's update went wrong after it started: a failed run, or a completed run whose
// versions did not verify. Counted against --max-failures. A camera that never started
// (unreachable, refused plan, held back) or that the operator stopped is not counted: the
// budget guards against firmware that harms cameras, not against cameras that are offline.
bool cameraFailed(const CameraReport& report);

// The canary: the first `count` cameras in target order that have files to send. Cameras
// up to date, unreachable or refused prove nothing about the firmware: they are neither
// canaries nor held back by them. Indices into `entries`.
std::vector<int> canaryCameras(const std::vector<PlanEntry>& entries, int count);
// A canary camera lets the others start only when it completed and its versions verified.
bool canaryPassed(const CameraReport& report);

// A resumed update carries a camera over unchanged when it ended completed and verified, or
// up to date; every other one is asked afresh.
bool resumeSkips(const CameraReport& report);
// The files a camera took in the earlier run (its answer accepted them): carried into the
// resumed report, and never sent to it again whatever its versions say.
std::vector<ReportedFile> filesTakenBefore(const CameraReport& earlier);
// How long, in seconds, a resumed update waits for the camera to answer again before it
// plans it: the camera may still be writing the last file it took when the earlier run
// ended without following it to its end, and is waited for as a run waits (the file's
// reset-wait time); 0 when nothing is to be waited for.
int comeBackSeconds(const CameraReport& earlier);

// What a resumed update finds changed since the report it carries on from, one line each
// ("the folder is /a, the report's /b"); empty when nothing has. `choiceGiven` is the
// --all/--only asked for now (null: the report's are taken). `sha256Now` gives the SHA-256
// (lower-case hex) of a file of the folder now, or an empty string when it cannot be read.
QStringList resumeChanges(const FleetReport& earlier, const QString& folder, const QString& listSha256,
                          const PlanChoice* choiceGiven, const std::function<QString(const QString&)>& sha256Now);

// Open files one camera at work may hold at the worst moment: the inquiry bound's worth of
// network version inquiries a camera checked by its network version is sent, one a tick,
// while its file's deadline has passed; the upload's or the model re-inquiry's connection;
// its log file; and one to spare for a connection being replaced.
int filesPerCamera();
// Open files the process keeps for itself: standard streams, the report, the firmware
// files being read, the event loop's own.
inline constexpr int kFilesReserved = 64;

// How many cameras may be at work at once under an open-file limit: `wanted`, or fewer when
// the limit would be reached (at least 1). `held` descriptors are taken for the whole run
// already (a lock per camera). A camera that could not open its connection would fail for
// the tool's sake, not the camera's.
int parallelWithin(int wanted, qint64 openFileLimit, qint64 held = 0);

// Exit status of `update`: 0 when every camera is done, 1 otherwise.
int updateExitStatus(const std::vector<CameraReport>& reports);
// Exit status of `plan`: 0 when every camera has a plan or nothing to do, 1 otherwise.
int planExitStatus(const std::vector<PlanEntry>& entries);

#endif
