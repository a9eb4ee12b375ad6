#include "camera/inquiryreply.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <cstring>
#include <utility>

#include <sys/socket.h>

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
    : QNetworkReply(parent)
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

InquiryReply::~InquiryReply()
{
    if (m_socket)
        m_socket->disconnect(this);
}

QByteArray InquiryReply::requestHead(const QUrl& url)
{
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    if (url.port() != -1)
        host += ':' + QByteArray::number(url.port());
    return "GET " + target + " HTTP/1.1\r\nHost: " + host
        + "\r\nConnection: Keep-Alive\r\nAccept-Encoding: zstd, br, gzip, deflate\r\nAccept-Language: en,*\r\n"
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
        useSocket(kept);
        m_socket->write(m_head);
        return;
    }
    m_reused = false;
    useSocket(new QTcpSocket(this));
    connect(m_socket, &QTcpSocket::connected, this, [this] { m_socket->write(m_head); });
    m_socket->connectToHost(m_host, m_port);
}

void InquiryReply::useSocket(QTcpSocket* socket)
{
    m_socket = socket;
    connect(m_socket, &QTcpSocket::readyRead, this, &InquiryReply::readAnswer);
    connect(m_socket, &QTcpSocket::disconnected, this, &InquiryReply::connectionEnded);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            fail(ConnectionRefusedError, m_socket->errorString());
            break;
        case QAbstractSocket::HostNotFoundError:
            fail(HostNotFoundError, m_socket->errorString());
            break;
        case QAbstractSocket::SocketTimeoutError:
            fail(TimeoutError, m_socket->errorString());
            break;
        case QAbstractSocket::RemoteHostClosedError:
            connectionEnded();
            break;
        default:
            if (m_reused)
                connectionEnded();
            else
                fail(UnknownNetworkError, m_socket->errorString());
            break;
        }
    });
}

void InquiryReply::abort()
{
    fail(OperationCanceledError, QStringLiteral("Operation canceled"));
}

qint64 InquiryReply::bytesAvailable() const
{
    return m_content.size() - m_readAt + QIODevice::bytesAvailable();
}

qint64 InquiryReply::readData(char* data, qint64 maxSize)
{
    const qint64 n = qMin(maxSize, qint64(m_content.size()) - m_readAt);
    if (n <= 0)
        return m_done ? -1 : 0;
    std::memcpy(data, m_content.constData() + m_readAt, std::size_t(n));
    m_readAt += n;
    return n;
}

void InquiryReply::readAnswer()
{
    if (m_done)
        return;
    switch (m_answer.feed(m_socket->readAll())) {
    case HttpAnswerParser::Complete:
        complete();
        break;
    case HttpAnswerParser::Invalid:
        fail(ProtocolFailure, QStringLiteral("Invalid answer from the camera"));
        break;
    case HttpAnswerParser::Incomplete:
        break;
    }
}

void InquiryReply::connectionEnded()
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
    if (m_answer.closed() == HttpAnswerParser::Complete)
        complete();
    else
        fail(RemoteHostClosedError, QStringLiteral("Connection closed before the camera answered"));
}

void InquiryReply::complete()
{
    m_content = m_answer.body();
    const int status = m_answer.status();
    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, status);
    setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, m_answer.reason());
    if (status >= 400) {
        const NetworkError error = networkErrorForStatus(status);
        setError(error, QString::fromLatin1(m_answer.reason()));
        emit errorOccurred(error);
    }
    finish(false);
}

void InquiryReply::fail(NetworkError error, const QString& text)
{
    if (m_done)
        return;
    setError(error, text);
    emit errorOccurred(error);
    finish(true);
}

void InquiryReply::finish(bool reset)
{
    m_done = true;
    if (m_socket && !reset && m_connections && m_answer.connectionReusable()) {
        m_socket->disconnect(this);
        m_connections->keep(m_host + QLatin1Char(':') + QString::number(m_port), std::exchange(m_socket, nullptr));
    }
    if (m_socket) {
        m_socket->disconnect(this);
        // An inquiry let go of is reset, not closed: whatever of the request the system still
        // holds is dropped, and it reaches the camera no more.
        if (reset && m_socket->socketDescriptor() != -1) {
            const linger now{1, 0};
            ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof(now));
        }
        m_socket->abort();
    }
    setFinished(true);
    emit finished();
}
