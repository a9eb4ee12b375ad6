#ifndef KELVORA_CAMERA_HTTPANSWER_H
#define KELVORA_CAMERA_HTTPANSWER_H

// A camera's HTTP answer as the tool reads it on its own connections (an inquiry's, an
// upload's): the answer parser, and the error an answer's status stands for, as Qt's own
// network access gives it, so a reply judged by its error reads the same whichever way it
// came.

#include <QByteArray>
#include <QNetworkReply>

// Reads one HTTP/1.x answer: status line, headers, and a body framed by Content-Length,
// chunked coding or the end of the connection. Interim 1xx answers are skipped. Bounded:
// an answer whose head or body exceeds the limits is invalid.
class HttpAnswerParser
{
public:
    enum State {
        Incomplete,
        Complete,
        Invalid,
    };

    static constexpr qsizetype kMaxHeadBytes = 64 * 1024;
    static constexpr qsizetype kMaxBodyBytes = 16 * 1024 * 1024;

    State feed(const QByteArray& bytes);
    // The connection has ended: an answer framed by the end of the connection is complete.
    State closed();

    State state() const { return m_state; }
    int status() const { return m_status; }
    QByteArray reason() const { return m_reason; }
    QByteArray body() const { return m_body; }
    // Nothing of an answer has come yet.
    bool nothingRead() const { return m_state == Incomplete && m_in.isEmpty() && m_status == 0; }
    // The answer is complete and leaves its connection fit for the next request: framed by
    // its length (not by the connection's end), nothing after it, no "Connection: close".
    bool connectionReusable() const
    {
        return m_state == Complete && m_keepAlive && m_framing != Framing::UntilClose && m_in.isEmpty();
    }

private:
    enum class Framing { Length, Chunked, UntilClose, None };
    State parse();
    bool parseHead(const QByteArray& head);
    State parseChunked();

    QByteArray m_in;
    qsizetype m_scanned = 0;  // bytes of m_in already searched for the end of a line or head
    State m_state = Incomplete;
    bool m_inBody = false;
    Framing m_framing = Framing::None;
    qint64 m_remaining = 0;
    bool m_chunkTrailers = false;
    bool m_keepAlive = false;
    int m_status = 0;
    QByteArray m_reason;
    QByteArray m_body;
};

// The reply error Qt's network access gives an answer with this status (400 and above).
QNetworkReply::NetworkError networkErrorForStatus(int status);

#endif
