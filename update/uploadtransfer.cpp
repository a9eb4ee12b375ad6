#include "update/uploadtransfer.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <utility>

#include <sys/socket.h>
#ifdef Q_OS_LINUX
#include <sys/sendfile.h>
#endif

namespace {

// The socket holds at most this much unsent body; the rest stays in the one buffer. The
// socket copies each piece into memory of its own and hands the system one piece per turn
// of the event loop: pieces much smaller than this slow an upload down whenever the loop
// is busy (64 KB pieces took seconds for 32 MB beside the window), much larger ones cost
// fresh pages for every piece and, with many uploads at once, memory (sixteen uploads hold
// 16 MB of copies).
constexpr qint64 kWriteChunk = 256 * 1024;
constexpr qint64 kWriteWindow = 4 * kWriteChunk;
// The file's piece of the body that the body's pieces keep in the middle.
constexpr qsizetype kFilePiece = 1;
// About this much of a file is handed to the kernel in one turn of the event loop (at most
// twice as much), so that one upload to a camera that reads fast does not keep the others,
// and the run's timers, waiting.
constexpr qint64 kSendTurn = 4 * kWriteWindow;

SendFileCall sendFileCall = nullptr;

#ifdef Q_OS_LINUX
// sendfile has no MSG_NOSIGNAL: to a camera that has gone it raises SIGPIPE, which would end
// the process. Held back while the kernel sends, and taken away when it was raised then.
class PipeSignalHeld
{
public:
    PipeSignalHeld()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_before);
        sigset_t pending;
        sigemptyset(&pending);
        m_wasPending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE);
    }
    ~PipeSignalHeld()
    {
        if (m_raised && !m_wasPending) {
            const timespec now{0, 0};
            while (sigtimedwait(&m_pipe, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_before, nullptr);
    }
    void raised() { m_raised = true; }

private:
    sigset_t m_pipe;
    sigset_t m_before;
    bool m_wasPending = false;
    bool m_raised = false;
};

// What a failed sendfile says of the connection: gone, or only sendfile refused.
bool connectionGone(int error)
{
    switch (error) {
    case EPIPE:
    case ECONNRESET:
    case ENOTCONN:
    case ECONNABORTED:
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENETDOWN:
        return true;
    default:
        return false;
    }
}
#endif

bool safeHeaderText(const QByteArray& text)
{
    return !text.contains('\r') && !text.contains('\n') && !text.contains('\0');
}

} // namespace

SendFileCall replaceSendFileCall(SendFileCall call)
{
    return std::exchange(sendFileCall, call);
}

// ---- UploadReply ----

UploadReply::UploadReply(const QByteArray& encodedUrl, const HeaderList& headers, UploadBody body, QObject* parent)
    : HttpExchange(parent)
    , m_file(std::move(body.file))
    , m_body{std::move(body.head), m_file ? m_file->bytes() : QByteArray(), std::move(body.tail)}
{
    for (const QByteArray& piece : std::as_const(m_body))
        m_total += piece.size();
    const QUrl url = QUrl::fromEncoded(encodedUrl, QUrl::TolerantMode);
    QNetworkRequest request(url);
    for (const auto& [name, value] : headers)
        request.setRawHeader(name, value);
    setRequest(request);
    setUrl(url);
    setOperation(QNetworkAccessManager::PostOperation);
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);

    bool headersSafe = true;
    for (const auto& [name, value] : headers)
        headersSafe = headersSafe && safeHeaderText(name) && safeHeaderText(value);
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty() || !headersSafe) {
        const NetworkError error = url.scheme() == QLatin1String("http") && !url.host().isEmpty()
            ? ProtocolInvalidOperationError
            : (url.host().isEmpty() ? HostNotFoundError : ProtocolUnknownError);
        QTimer::singleShot(0, this, [this, error] { fail(error, QStringLiteral("Invalid upload request")); });
        return;
    }

    m_head = requestStart("POST", url);
    for (const auto& [name, value] : headers)
        m_head += name + ": " + value + "\r\n";
    m_head += "Connection: close\r\nUser-Agent: Mozilla/5.0\r\n\r\n";
    m_headLeft = m_head.size();
    QTimer::singleShot(0, this, [this, url] { openConnection(url); });
}

UploadReply::~UploadReply()
{
    stopSendingFile();
}

void UploadReply::openConnection(const QUrl& url)
{
    if (m_done)
        return;
    watch(new QTcpSocket(this));
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_socket->write(m_head);
        sendMore();
    });
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this](qint64 written) {
        const qint64 head = qMin(written, m_headLeft);
        m_headLeft -= head;
        if (written > head) {
            m_written += written - head;
            emit uploadProgress(m_written, m_total);
        }
        sendMore();
    });
    m_socket->connectToHost(url.host(), quint16(url.port(80)));
}

void UploadReply::sendMore()
{
    if (m_done || !m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    while (m_piece < m_body.size()) {
        const QByteArray& piece = m_body.at(m_piece);
        if (m_pieceSent == piece.size()) {
            ++m_piece;
            m_pieceSent = 0;
            continue;
        }
        if (m_piece == kFilePiece && m_kernelSends && m_file->sealedDescriptor() >= 0) {
            // What the socket still buffers goes out before the file. Its own write
            // notifications stop once it is empty; the file's own take over on the next
            // turn, never beside them.
            if (m_socket->bytesToWrite() == 0 && !m_fileTurnDue && !(m_room && m_room->isEnabled())) {
                m_fileTurnDue = true;
                QTimer::singleShot(0, this, &UploadReply::sendFile);
            }
            return;
        }
        if (m_socket->bytesToWrite() >= kWriteWindow)
            return;
        const qint64 written = m_socket->write(piece.constData() + m_pieceSent, qMin(kWriteChunk, piece.size() - m_pieceSent));
        if (written <= 0)
            return;  // the socket reports its error
        m_pieceSent += written;
        m_sent += written;
    }
}

void UploadReply::sendFile()
{
    m_fileTurnDue = false;
    if (m_done || !m_socket || m_socket->state() != QAbstractSocket::ConnectedState || m_piece != kFilePiece)
        return;
#ifdef Q_OS_LINUX
    const int socket = int(m_socket->socketDescriptor());
    if (!m_room) {
        m_room = new QSocketNotifier(socket, QSocketNotifier::Write, this);
        connect(m_room, &QSocketNotifier::activated, this, &UploadReply::sendFile);
    }
    m_room->setEnabled(false);
    const qint64 size = m_body.at(kFilePiece).size();
    qint64 handed = 0;
    bool waitForRoom = false, gone = false, refused = false;
    {
        PipeSignalHeld pipe;
        while (m_pieceSent < size) {
            if (handed >= kSendTurn) {
                waitForRoom = true;
                break;
            }
            off_t at = off_t(m_pieceSent);
            const std::size_t most = std::size_t(qMin(size - m_pieceSent, kSendTurn));
            const ssize_t n = sendFileCall ? sendFileCall(socket, m_file->sealedDescriptor(), &at, most)
                                           : ::sendfile(socket, m_file->sealedDescriptor(), &at, most);
            if (n > 0) {
                m_pieceSent += n;
                handed += n;
                continue;
            }
            const int error = n < 0 ? errno : 0;
            if (error == EINTR)
                continue;
            if (error == EAGAIN || error == EWOULDBLOCK) {
                waitForRoom = true;
            } else if (connectionGone(error)) {
                if (error == EPIPE)
                    pipe.raised();
                gone = true;
            } else {
                // Refused, not failed (a filter, a kernel without it): the rest is written.
                refused = true;
            }
            break;
        }
    }
    m_sent += handed;
    m_written += handed;
    if (handed > 0) {
        emit uploadProgress(m_written, m_total);
        if (m_done)
            return;
    }
    if (gone) {
        // As a failed write: the camera may have answered before taking the whole body.
        connectionEnded(RemoteHostClosedError);
        return;
    }
    if (waitForRoom) {
        m_room->setEnabled(true);
        return;
    }
    if (refused)
        m_kernelSends = false;
    stopSendingFile();
#else
    m_kernelSends = false;
#endif
    sendMore();
}

void UploadReply::stopSendingFile()
{
    if (!m_room)
        return;
    m_room->setEnabled(false);
    m_room->deleteLater();
    m_room = nullptr;
}

bool UploadReply::answerStands()
{
    return m_sent >= m_total && m_socket->bytesToWrite() == 0;
}

void UploadReply::ending(bool reset)
{
    Q_UNUSED(reset);
    stopSendingFile();
}
