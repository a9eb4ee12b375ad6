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
    qint64 size = -1;           // bytes of the copy the plan judged, which is the copy sent; -1 when not read
    QString sha256;             // of those bytes, lower-case hex; empty when not read
    double uploadSeconds = -1;  // from the post to the camera's acceptance; -1 when not accepted
    // From the camera's acceptance to its being back from the restart (the next file, or the
    // run's end when it never came back); -1 when not accepted or not recorded (older reports).
    double restartSeconds = -1;
    // The camera's answer to the upload took the file. Written to the report the moment it
    // is answered, so that an update killed while the camera writes it still knows.
    bool accepted = false;
    // Taken by the camera in the run a resumed update carries on from; this run did not
    // send it again and never will.
    bool earlier = false;
};

struct CameraReport {
    QString address;
    int model = 0;        // CAM_MODELID_NONE when unknown
    FleetEnd end = FleetEnd::Pending;
    QString message;      // the window's text for the end
    QString reason;       // for the operator: why a camera had no run, or what the camera did
                          // when its run failed ("the camera refused the credentials (HTTP 401)")
    bool verified = false;
    QString credentialSource;  // where the camera's credentials came from; empty without a run
    QDateTime started;    // UTC; invalid when no run started
    QDateTime ended;      // UTC; invalid while pending
    // UTC; when the camera was asked again after its run. Invalid when it was not, or in a
    // report of an older version.
    QDateTime verificationStarted;
    QStringList before;   // the nine versions from the plan's inquiry ("" not reported); empty when unreachable
    QStringList after;    // the nine from the verification; empty when not asked again or no answer
    std::vector<ReportedFile> files;  // upload order; files taken in an earlier run first
    bool canary = false;       // one of the canary cameras that went first, alone
    bool carriedOver = false;  // a resumed update left the camera as the earlier report had it
};

// A camera and its plan; the plan means nothing when the scan failed. In a resumed update
// a camera is either carried over as the earlier report had it (nothing asked, nothing
// planned), or handled anew with the files it took before carried into its new report.
struct PlanEntry {
    ScanResult scan;
    CameraPlan plan;
    QString credentialSource;  // "file line 7", "environment", "prompt"; empty without a run
    bool carriedOver = false;
    CameraReport earlier;                   // when carried over: its report, unchanged
    std::vector<ReportedFile> takenBefore;  // when handled anew: the files it took before
};

// The run around the cameras: what the report's reader needs to know where it came from,
// and to resume it.
struct RunInfo {
    QString tool;         // "kelvora-fleet"
    QString version;      // the tool's
    QString folder;       // the firmware folder, absolute
    QString listSha256;   // of the folder's list file as the plan read it, lower-case hex
    // The folder's SHA256SUMS as the plan read it: "checked" (every file sent was held to it),
    // "none" (the folder had none), "unreadable"; empty when not recorded (an older report).
    QString sums;
    PlanChoice choice;    // all, only (skipCurrent and the earlier files are the resumed run's own)
    int parallel = 0;     // runs at once; 0: not recorded (a report of an older version)
    int canary = 0;       // canary cameras asked for; 0: none
    int maxFailures = 0;  // failure budget; 0: none
    QDateTime started;    // UTC
    QDateTime ended;      // UTC; invalid while the update goes on
};

// RunInfo::sums for the state of a folder's SHA256SUMS: "checked", "none", "unreadable".
QString sumsStateName(FolderSums::State state);

struct FleetReport {
    RunInfo run;
    std::vector<CameraReport> cameras;
};

// The report of a camera before its run: an unreachable camera or a refused plan has its
// end already; a valid plan lists its files, none sent, pending until the run says otherwise.
// A camera carried over is its earlier report, marked so. Files a resumed camera took before
// come first, marked as the earlier run's and as sent, so that the check after this run
// judges them again; a camera with nothing left to send is judged at once by the answer
// its plan was made from.
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
// is wrong (not JSON, cut short, a camera without an address, a missing or unknown end,
// ...) and *errorLine, when given, the line of the text it is on (0 when not known): a
// report that is read back decides which cameras a resumed update leaves alone and which
// files it never sends again, so nothing is guessed.
bool parseReport(const QByteArray& json, FleetReport* report, QString* error, int* errorLine = nullptr);
// Reads the report file at `path` (a regular file of at most 64 MB); an error names the
// line ("line 57: camera 192.0.2.5: unknown end \"compleeted\"").
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
