#ifndef KELVORA_FLEET_FLEETREPORT_H
#define KELVORA_FLEET_FLEETREPORT_H

// What the many-camera engine finds and does, as plain records: each camera's answer to the
// inquiry, its plan, and its update report; and the report as JSON, for scripts and as the
// file --report writes. Widget-free.

#include "fleet/fleetplan.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The model's name as the tables and reports write it ("QV_TK300"); empty when unknown.
QString fleetModelName(int model);

// One camera's answer to the inquiry sequence.
struct ScanResult {
    QString address;
    bool ok = false;
    cam_info camera;  // model and versions when ok
    QString error;    // why not: "connection refused", "no answer", "unknown model", ...
};

// A camera and its plan; the plan means nothing when the scan failed.
struct PlanEntry {
    ScanResult scan;
    CameraPlan plan;
};

enum class FileResult {
    NotSent,   // never posted
    Sent,      // the run got past it
    Failed,    // the run ended on it
    Verified,  // sent, and the camera now reports the folder's version
    Mismatch,  // sent, but the camera reports another version (or none, having reported one before)
    NotReported,  // sent; the camera's inquiries do not report this component (before nor after)
};
QString fileResultName(FileResult result);  // "not-sent", "sent", ...

struct ReportedFile {
    int component = -1;
    QString fileName;
    QString version;  // the folder's
    FileResult result = FileResult::NotSent;
    QString before;   // the camera's before the run; empty when it reported none
};

struct CameraReport {
    QString address;
    int model = 0;        // CAM_MODELID_NONE when unknown
    FleetEnd end = FleetEnd::Stopped;
    QString message;      // the window's text for the end
    QString reason;       // why a camera had no run, for the operator (not in the report file)
    bool verified = false;
    std::vector<ReportedFile> files;  // upload order
};

// The report of a camera before its run: an unreachable camera or a refused plan has its
// end already; a valid plan lists its files, none sent, with end "stopped" until the run
// says otherwise.
CameraReport reportFromPlan(const PlanEntry& entry);

// The run has posted file `index` (0-based in upload order): every earlier file is done.
void noteFileStarted(CameraReport& report, int index);
// The run ended while on file `current` (0-based; -1 before the first). Completed marks
// every file sent; any other end marks the files before `current` sent and `current` as
// the caller judged it: failed, or for a stopped run sent (it was done with before the
// stop) or not sent (never posted).
void noteRunEnded(CameraReport& report, FleetEnd end, const QString& message, int current, FileResult currentResult);
// The camera's answer after the run: each sent file is verified when the camera now
// reports the folder's version for its component; a component the camera reports neither
// before nor after (the TK20 and TK15 inquiries skip the interface components) cannot be
// checked. `verified` holds when the camera answered, every planned file is verified or
// cannot be checked, and at least one is verified.
void noteVerification(CameraReport& report, bool answered, const cam_info& after);

// True when the report ends the way the update command counts as well done.
inline bool reportWell(const CameraReport& r) { return r.end == FleetEnd::Completed && r.verified; }

QByteArray scanJson(const std::vector<ScanResult>& results);
QByteArray planJson(const std::vector<PlanEntry>& entries);
QByteArray reportJson(const std::vector<CameraReport>& reports);

// Writes the report whole or not at all (an existing file is kept on failure).
bool writeReport(const QString& path, const std::vector<CameraReport>& reports, QString* error);

#endif
