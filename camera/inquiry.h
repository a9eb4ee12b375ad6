#ifndef KELVORA_CAMERA_INQUIRY_H
#define KELVORA_CAMERA_INQUIRY_H

// The camera inquiries on the wire and the judging of their answers, free of widgets and
// of the network: the window sends what these functions build and applies what they decide.

#include "camera/caminfo.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

class InquiryConnections;
class QNetworkAccessManager;
class QNetworkReply;

// Inquiry numbers as kept in mw_ReqCamIndex.
inline constexpr int kInquiryModel = 0;
inline constexpr int kInquiryFirstVersion = 1; // QSV0
inline constexpr int kInquiryLastVersion = 9;  // QSV8
inline constexpr int kInquiryEnded = 11;       // sequence complete, nothing due

// Command path after "/cgi-bin/": "qv_cam?cmd=QID&res=1" for 0, "qv_ptz?cmd=%23QSV<n-1>&res=1"
// for 1..9, empty for any other number.
QByteArray inquiryCommandPath(int n);

// "http://" + address + "/cgi-bin/" + command path. The address goes in exactly as typed
// (Latin-1, neither trimmed nor checked): a host name or "host:port" works too.
QByteArray inquiryUrlBytes(const QString& address, int n);

// The same bytes as an already encoded URL, parsed tolerantly so "%23" reaches the camera as is.
QUrl inquiryUrl(const QString& address, int n);

// How long an inquiry may go unanswered: a camera that takes the connection and never
// answers would otherwise hold the tool (and the connection) for good. Running out counts
// as a transport error, like a refused connection (the reply is aborted).
inline constexpr int kInquiryTimeoutMs = 10000;

// Sends an inquiry of any kind (the window's, the run's model re-inquiry and its network
// version inquiry): a GET of the encoded URL as it stands, no header of its own, bounded by
// kInquiryTimeoutMs.
QNetworkReply* getInquiry(QNetworkAccessManager* manager, const QByteArray& encodedUrl);
// The same inquiry, bytes and bound, over a connection of its own in this thread
// (camera/inquiryreply.h): the run's inquiries, and all of a fleet's. The reply is a child
// of `parent`; with `connections`, it may go on a connection an earlier inquiry left open.
QNetworkReply* sendInquiry(QObject* parent, const QByteArray& encodedUrl, InquiryConnections* connections = nullptr);
// Ends the bound of an inquiry reply once it has finished; its handler calls this first,
// so that nothing of a judged inquiry is left ticking.
void endInquiryBound(QNetworkReply* reply);

// An answer body as text: bytes up to the first NUL, one character per byte.
QString inquiryAnswerText(const QByteArray& body);

// The version inside a version answer: of its last ten characters, the first six (of a
// shorter answer, its first six).
QString inquiryVersionFromText(const QString& text);

// What one version inquiry fills: answer prefix, record field, value label and debug tag.
struct InquiryVersionSlot {
    int number;            // inquiry number 1..9
    const char* prefix;    // "qSV0".."qSV8"
    QString cam_info::*field;
    const char* label;     // object name of the camera value label
    const char* tag;       // debug line written when the version is stored
};

// The slot of inquiry number 1..9; nullptr for any other number.
const InquiryVersionSlot* inquiryVersionSlot(int n);

// Labels of the three TK300-only components, set back to "----" when a TK20 answer skips them.
inline constexpr const char* kTk300OnlyLabels[] = {"IP_CPU_InterfaceVer", "IP_FPGA_LensVer", "IP_EEPROM_InterfaceVer"};

enum class InquiryOutcome {
    Next,          // store what the decision names, then send inquiry `next`
    End,           // store, then the sequence is complete: identify the model
    NetworkFailed, // transport or HTTP error: clear silently
    AnswerFailed,  // unexpected answer for the inquiry due: clear and tell the operator
};

struct InquiryDecision {
    InquiryOutcome outcome = InquiryOutcome::AnswerFailed;
    int qid = CAM_QID_NONE;                       // model answer to keep (unchanged unless inquiry 0 matched)
    QString tag;                                  // debug tag of what was stored; empty on failure
    const InquiryVersionSlot* slot = nullptr;     // version stored, for inquiries 1..9
    QString version;
    bool resetTk300Labels = false;                // TK20 family: skip QSV5..QSV7 and show them as "----"
    int next = kInquiryModel;                     // number due afterwards (kInquiryEnded at the end)
};

// Judges one finished inquiry. `index` is the number due when the answer arrived (not the
// number it was sent for), `qid` the model answer kept so far, `failed` whether the client
// reported any error, `body` the raw answer bytes.
InquiryDecision judgeInquiryAnswer(int index, int qid, bool failed, const QByteArray& body);

#endif
