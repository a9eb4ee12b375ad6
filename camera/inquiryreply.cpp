#include "camera/inquiryreply.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <utility>


InquiryConnections::InquiryConnections(QObject* parent)
    : QObject(parent)
{
}

InquiryConnections::~InquiryConnections()
{
    for (QTcpSocket* socket : std::as_const(m_idle))
        socket->disconnect(this);
}

QTcpSocket* InquiryConnections::take(const QString& key)
{
    QTcpSocket* socket = m_idle.take(key);
    if (!socket)
        return nullptr;
    socket->disconnect(this);
    if (socket->state() != QAbstractSocket::ConnectedState) {
        socket->deleteLater();
        return nullptr;
    }
    return socket;
}

void InquiryConnections::keep(const QString& key, QTcpSocket* socket)
{
    if (QTcpSocket* older = m_idle.take(key)) {
        older->disconnect(this);
        older->abort();
        older->deleteLater();
    }
    socket->setParent(this);
    m_idle.insert(key, socket);
    // A camera that closes a kept connection, or says anything on it, ends it.
    connect(socket, &QTcpSocket::disconnected, this, [this, key, socket] { drop(key, socket); });
    connect(socket, &QTcpSocket::readyRead, this, [this, key, socket] { drop(key, socket); });
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, key, socket] { drop(key, socket); });
}

void InquiryConnections::drop(const QString& key, QTcpSocket* socket)
{
    if (m_idle.value(key) != socket)
        return;
    m_idle.remove(key);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

InquiryReply::InquiryReply(const QByteArray& encodedUrl, QObject* parent, InquiryConnections* connections)
    : HttpExchange(parent)
    , m_connections(connections)
{
    const QUrl url = QUrl::fromEncoded(encodedUrl, QUrl::TolerantMode);
    setRequest(QNetworkRequest(url));
    setUrl(url);
    setOperation(QNetworkAccessManager::GetOperation);
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty()) {
        const NetworkError error = url.host().isEmpty() ? HostNotFoundError : ProtocolUnknownError;
        QTimer::singleShot(0, this, [this, error] { fail(error, QStringLiteral("Invalid inquiry")); });
        return;
    }
    m_head = requestHead(url);
    m_host = url.host();
    m_port = quint16(url.port(80));
    QTimer::singleShot(0, this, &InquiryReply::openConnection);
}

QByteArray InquiryReply::requestHead(const QUrl& url)
{
    return requestStart("GET", url)
        + "Connection: Keep-Alive\r\nAccept-Encoding: zstd, br, gzip, deflate\r\nAccept-Language: en,*\r\n"
          "User-Agent: Mozilla/5.0\r\n\r\n";
}

void InquiryReply::openConnection()
{
    if (m_done)
        return;
    const QString key = m_host + QLatin1Char(':') + QString::number(m_port);
    if (QTcpSocket* kept = m_connections ? m_connections->take(key) : nullptr) {
        m_reused = true;
        kept->setParent(this);
        watch(kept);
        m_socket->write(m_head);
        return;
    }
    m_reused = false;
    watch(new QTcpSocket(this));
    connect(m_socket, &QTcpSocket::connected, this, [this] { m_socket->write(m_head); });
    m_socket->connectToHost(m_host, m_port);
}

void InquiryReply::connectionEnded(NetworkError errorIfIncomplete)
{
    if (m_done)
        return;
    readAnswer();
    if (m_done)
        return;
    // A kept connection the camera closed before answering anything: the request goes
    // again, once, on a new one.
    if (m_reused && m_answer.nothingRead()) {
        QTcpSocket* old = std::exchange(m_socket, nullptr);
        old->disconnect(this);
        old->abort();
        old->deleteLater();
        m_connections = nullptr;
        openConnection();
        return;
    }
    HttpExchange::connectionEnded(errorIfIncomplete);
}

void InquiryReply::ending(bool reset)
{
    // An answer that leaves its connection fit for another request leaves it to the next
    // inquiry of the sequence.
    if (m_socket && !reset && m_connections && m_answer.connectionReusable()) {
        m_socket->disconnect(this);
        m_connections->keep(m_host + QLatin1Char(':') + QString::number(m_port), std::exchange(m_socket, nullptr));
    }
}
