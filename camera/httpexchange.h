#ifndef KELVORA_CAMERA_HTTPEXCHANGE_H
#define KELVORA_CAMERA_HTTPEXCHANGE_H

// One request to a camera and its answer over a connection the tool drives itself, handed
// back as a QNetworkReply so that it is judged like any other: the part an inquiry
// (camera/inquiryreply.h) and an upload (update/uploadtransfer.h) share. It reads the answer
// (camera/httpanswer.h), gives an answer's status the error Qt's access manager would, and
// ends the exchange once: an exchange that ends early is reset, not closed, so the system
// drops what it still holds of the request and the camera gets no further byte of it.

#include "camera/httpanswer.h"

#include <QByteArray>
#include <QNetworkReply>

class QTcpSocket;
class QUrl;

class HttpExchange : public QNetworkReply
{
public:
    ~HttpExchange() override;

    void abort() override;
    qint64 bytesAvailable() const override;
    bool isSequential() const override { return true; }

    // "METHOD target HTTP/1.1\r\nHost: host[:port]\r\n", as Qt's access manager writes them.
    static QByteArray requestStart(const char* method, const QUrl& url);

protected:
    explicit HttpExchange(QObject* parent);

    qint64 readData(char* data, qint64 maxSize) override;

    // The exchange's connection: its answer, its end and its errors come here.
    void watch(QTcpSocket* socket);
    void readAnswer();
    // The connection has ended: the answer is complete if its end frames it; otherwise the
    // exchange fails with `errorIfIncomplete`.
    virtual void connectionEnded(NetworkError errorIfIncomplete);
    // Whether a complete answer may stand for the request (an upload's not, before its body
    // is all out).
    virtual bool answerStands() { return true; }
    // Called first as the exchange ends (reset: it ended early).
    virtual void ending(bool reset) { Q_UNUSED(reset); }
    void fail(NetworkError error, const QString& text);

    QTcpSocket* m_socket = nullptr;
    bool m_done = false;
    HttpAnswerParser m_answer;

private:
    void complete();
    void finish(bool reset);

    QByteArray m_content;
    qint64 m_readAt = 0;
};

#endif
