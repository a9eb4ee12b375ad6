#ifndef KELVORA_UPDATE_SEQUENCER_H
#define KELVORA_UPDATE_SEQUENCER_H

// The update run's decisions, apart from the dialog that carries them out: how the
// camera's answers are judged, how the reset wait advances, the requests that ask
// whether the camera is back, and what each end of a run does, in which order.
// Widget-free and network-free.

#include <QByteArray>
#include <QString>

#include <vector>

// Seconds that the whole run may spend waiting for upload replies.
inline constexpr double kUploadWaitLimit = 300.0;

// What the camera's answer to an upload means.
enum class UploadVerdict {
    Failed,   // transport or HTTP error
    Accepted, // the model's marker is in the body: the camera writes the file
    Refused,  // no marker (also for a model without a marker)
};
// The marker a model's camera answers an accepted upload with; nullptr outside 1..12.
const char* uploadAcceptMarker(int model);
UploadVerdict judgeUploadReply(int model, bool failed, const QByteArray& body);

// What the camera's answer to a model re-inquiry during the reset wait means.
enum class ReinquiryVerdict {
    NoAnswer,     // transport or HTTP error: still restarting, ask again
    NotBack,      // "QID:...": still restarting, ask again
    LeftToCheck,  // the network version check decides this file; ask no more
    Back,         // the camera runs again: the file is done
};
ReinquiryVerdict judgeReinquiryReply(int model, const QString& extension, bool failed, const QByteArray& body);

// True for files whose end is decided by the network version check (models 1..3, "img").
bool decidedByVersionCheck(int model, const QString& extension);

// An inquiry answer as text: the bytes up to the first NUL, one character per byte.
QString inquiryText(const QByteArray& body);
// The version in a version answer: of its last ten characters, the first six.
QString answerVersion(const QString& text);
// True when the answer carries the network CPU version and it equals `expected`.
bool networkVersionMatches(bool failed, const QByteArray& body, const QString& expected);

// One reset-wait tick: adds `interval` to *progress (double precision, as the wait's
// length is defined by it) and gives the whole percent to show. The deadline is reached
// once the percent is 100 or more.
struct ResetWaitTick {
    int percent;
    bool deadline;
};
ResetWaitTick advanceResetWait(double* progress, double interval);

// Requests that ask whether the camera is back; encoded URLs ("%23" stays as it is).
QByteArray modelReinquiryUrl(const QString& address);
QByteArray networkVersionUrl(const QString& address);

// Every way a run ends, and what it does in which order.
enum class RunEnd {
    NotStarted,         // no valid plan
    UploadFailed,       // upload reply with an error
    UploadRefused,      // upload reply without the marker
    NoUploadForm,       // the camera has no form for the file: refused before sending
    FileUnreadable,     // the firmware file cannot be read: nothing is sent
    NoUploadReply,      // upload waits reached the run's limit
    CameraNotBack,      // reset-wait deadline passed
    VersionCheckFailed, // network version check failed
    Completed,          // every planned file done
    Stopped,            // stopped while the camera held a file
    StoppedSending,     // stopped with files left to send (one on the wire is abandoned)
};

// The text an end shows the operator; nullptr for an end without one.
const char* runEndMessage(RunEnd end);

struct RunEndStep {
    enum Kind {
        Log,        // write `text`
        LogDetail,  // write the caller's detail line (the form's unreadable-file line)
        Message,    // show `text` to the operator and wait for OK
        StopTimer1,
        StopTimer2,
        Reset,      // full reset of the run's records and state
        Abort,      // abort every request still out: nothing more reaches the camera
        Close,      // end the dialog's modal run
    };
    Kind kind;
    const char* text;
};
const std::vector<RunEndStep>& runEndSteps(RunEnd end);

#endif
