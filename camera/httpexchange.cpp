#include "camera/httpexchange.h"

#include <QNetworkRequest>
#include <QTcpSocket>
#include <QUrl>

#include <cstring>

#include <sys/socket.h>

HttpExchange::HttpExchange(QObject* parent)
    : QNetworkReply(parent)
{
}

HttpExchange::~HttpExchange()
{
    if (m_socket)
        m_socket->disconnect(this);
}

QByteArray HttpExchange::requestStart(const char* method, const QUrl& url)
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
    return QByteArray(method) + ' ' + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
}

void HttpExchange::watch(QTcpSocket* socket)
{
    m_socket = socket;
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpExchange::readAnswer);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] { connectionEnded(RemoteHostClosedError); });
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
        case QAbstractSocket::NetworkError:
            // Also a failed write: the camera may have answered before taking the whole request.
            connectionEnded(RemoteHostClosedError);
            break;
        default:
            connectionEnded(UnknownNetworkError);
            break;
        }
    });
}

void HttpExchange::abort()
{
    fail(OperationCanceledError, QStringLiteral("Operation canceled"));
}

qint64 HttpExchange::bytesAvailable() const
{
    return m_content.size() - m_readAt + QIODevice::bytesAvailable();
}

qint64 HttpExchange::readData(char* data, qint64 maxSize)
{
    const qint64 n = qMin(maxSize, qint64(m_content.size()) - m_readAt);
    if (n <= 0)
        return m_done ? -1 : 0;
    std::memcpy(data, m_content.constData() + m_readAt, std::size_t(n));
    m_readAt += n;
    return n;
}

void HttpExchange::readAnswer()
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

void HttpExchange::connectionEnded(NetworkError errorIfIncomplete)
{
    if (m_done)
        return;
    readAnswer();
    if (m_done)
        return;
    if (m_answer.closed() == HttpAnswerParser::Complete)
        complete();
    else
        fail(errorIfIncomplete, QStringLiteral("Connection closed before the camera answered"));
}

void HttpExchange::complete()
{
    m_content = m_answer.body();
    const int status = m_answer.status();
    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, status);
    setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, m_answer.reason());
    if (status >= 400) {
        const NetworkError error = networkErrorForStatus(status);
        setError(error, QString::fromLatin1(m_answer.reason()));
        emit errorOccurred(error);
    } else if (!answerStands()) {
        // Whatever it says, a camera that answers before it has the whole request has not
        // taken it: the answer cannot stand for the request.
        setError(ProtocolFailure, QStringLiteral("The camera answered before it had the whole file"));
        emit errorOccurred(ProtocolFailure);
    }
    finish(error() != NoError);
}

void HttpExchange::fail(NetworkError error, const QString& text)
{
    if (m_done)
        return;
    setError(error, text);
    emit errorOccurred(error);
    finish(true);
}

void HttpExchange::finish(bool reset)
{
    m_done = true;
    ending(reset);
    if (m_socket) {
        m_socket->disconnect(this);
        if (reset && m_socket->socketDescriptor() != -1) {
            const linger now{1, 0};
            ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof(now));
        }
        m_socket->abort();
    }
    setFinished(true);
    emit finished();
}
