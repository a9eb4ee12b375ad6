#ifndef KELVORA_CAMERA_INQUIRYREPLY_H
#define KELVORA_CAMERA_INQUIRYREPLY_H

// One camera inquiry (a GET) over a connection of its own, carried out in the thread that
// asks, and handed back as a QNetworkReply so it is judged like any other.
//
// Why not QNetworkAccessManager: it sends from a thread of its own. An inquiry aborted at
// the end of a run may still leave after that end (the abort reaches the manager's thread
// after its write), and for a thousand cameras the hand-over between the threads costs more
// than the exchanges themselves. The request's bytes are the ones the manager sends, header
// for header (requestHead), and an answer's status gives the error the manager would give
// (camera/httpanswer.h). The cameras answer in plain text: an answer is taken as it comes,
// never decompressed.
//
// Inquiries of one sequence may share the connections kept by an InquiryConnections, as the
// manager keeps them: the camera answers the next inquiry on the connection it answered
// the last one on. A kept connection the camera has closed meanwhile is replaced once.

#include "camera/httpexchange.h"

#include <QByteArray>
#include <QNetworkReply>

#include <QHash>
#include <QObject>
#include <QPointer>

class QTcpSocket;
class QUrl;

// Connections left open by finished inquiries, one per camera address, for the next
// inquiry to the same camera. Closed when the camera closes them, or with their keeper.
class InquiryConnections : public QObject
{
public:
    explicit InquiryConnections(QObject* parent = nullptr);
    ~InquiryConnections() override;
    // An open connection to `key` ("host:port"), now the caller's; null when none is kept.
    QTcpSocket* take(const QString& key);
    // A connection whose last answer left it fit for another request.
    void keep(const QString& key, QTcpSocket* socket);

private:
    void drop(const QString& key, QTcpSocket* socket);

    QHash<QString, QTcpSocket*> m_idle;
};

class InquiryReply : public HttpExchange
{
public:
    // The connection is opened on the next turn of the event loop, so whatever happens to
    // it arrives after the caller has connected to the reply's signals.
    explicit InquiryReply(const QByteArray& encodedUrl, QObject* parent = nullptr,
                          InquiryConnections* connections = nullptr);

    // The request head for `url`, as Qt's access manager writes a GET.
    static QByteArray requestHead(const QUrl& url);

protected:
    void connectionEnded(NetworkError errorIfIncomplete) override;
    void ending(bool reset) override;

private:
    void openConnection();

    QByteArray m_head;
    QString m_host;
    quint16 m_port = 80;
    QPointer<InquiryConnections> m_connections;
    bool m_reused = false;  // on a kept connection: replaced once if the camera closed it
};

#endif
