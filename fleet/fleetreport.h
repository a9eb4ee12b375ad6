#ifndef KELVORA_FLEET_FLEETREPORT_H
#define KELVORA_FLEET_FLEETREPORT_H

// What the many-camera engine finds and does, as plain records: each camera's answer to the
// inquiry, its plan, and its update report with the run around it (tool, folder, times);
// and the one report structure's forms: JSON for scripts and the report file (written and
// read back, for `report`, `--resume` and the history), CSV for a spreadsheet. Every table,
// CSV row and history line comes from these records. Widget-free; no secret is ever held
// here: a camera's credentials appear only as where they came from.

#include "fleet/fleetplan.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

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
    QString credentialSource;  // "file line 7", "environment", "prompt"; empty without a run
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
bool fileResultFromName(const QString& name, FileResult* result);

struct ReportedFile {
    int component = -1;
    QString fileName;
    QString version;  // the folder's
    FileResult result = FileResult::NotSent;
    QString before;   // the camera's before the run; empty when it reported none
    qint64 size = -1;           // bytes of the file as sent; -1 when it was not read
    QString sha256;             // of those bytes, lower-case hex; empty when not read
    double uploadSeconds = -1;  // from the post to the camera's acceptance; -1 when not accepted
};

struct CameraReport {
    QString address;
    int model = 0;        // CAM_MODELID_NONE when unknown
    FleetEnd end = FleetEnd::Pending;
    QString message;      // the window's text for the end
    QString reason;       // why a camera had no run, for the operator
    bool verified = false;
    QString credentialSource;  // where the camera's credentials came from; empty without a run
    QDateTime started;    // UTC; invalid when no run started
    QDateTime ended;      // UTC; invalid while pending
    QStringList before;   // the nine versions from the plan's inquiry ("" not reported); empty when unreachable
    QStringList after;    // the nine from the verification; empty when not asked again or no answer
    std::vector<ReportedFile> files;  // upload order
};

// The run around the cameras: what the report's reader needs to know where it came from,
// and to resume it.
struct RunInfo {
    QString tool;         // "kelvora-fleet"
    QString version;      // the tool's
    QString folder;       // the firmware folder, absolute
    PlanChoice choice;    // all, only (skipCurrent is the resumed run's own)
    QDateTime started;    // UTC
    QDateTime ended;      // UTC; invalid while the update goes on
};

struct FleetReport {
    RunInfo run;
    std::vector<CameraReport> cameras;
};

// The report of a camera before its run: an unreachable camera or a refused plan has its
// end already; a valid plan lists its files, none sent, pending until the run says otherwise.
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

// The nine versions of an inquiry's record, in component order ("" where none).
QStringList versionList(const cam_info& camera);

// "2026-12-08T09:30:00.125Z": every time the tool writes.
QString utcText(const QDateTime& time);

QByteArray scanJson(const std::vector<ScanResult>& results);
QByteArray planJson(const std::vector<PlanEntry>& entries);
QByteArray reportJson(const FleetReport& report);
// As a single line (the history keeps one report a line).
QByteArray reportJsonLine(const FleetReport& report);

// Reads a report written by reportJson (or a history line). False with *error naming what
// is wrong (not JSON, a camera without an address, an unknown end, ...): a report that is
// read back decides which cameras a resumed update leaves alone, so nothing is guessed.
bool parseReport(const QByteArray& json, FleetReport* report, QString* error);
// Reads the report file at `path` (a regular file of at most 64 MB).
bool readReport(const QString& path, FleetReport* report, QString* error);

// CSV for a spreadsheet (RFC 4180, CRLF): scan, one row a camera; report, one row a file
// (a camera without files has one row of its own). Cameras and folders are not trusted to
// write into someone's spreadsheet: a cell's control characters, line breaks too, are
// written as displaySafe writes them ("\x0a"), so every row is one line; a cell a
// spreadsheet would take for a formula (starting with "=", "+", "-" or "@") is written with
// a leading "'". The JSON forms keep every character as it came.
QByteArray scanCsv(const std::vector<ScanResult>& results);
QByteArray reportCsvHeader();
QByteArray reportCsvRows(const FleetReport& report);

#endif
