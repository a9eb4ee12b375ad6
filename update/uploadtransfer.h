#ifndef KELVORA_UPDATE_UPLOADTRANSFER_H
#define KELVORA_UPDATE_UPLOADTRANSFER_H

// Sends one firmware upload over its own HTTP/1.1 connection and hands back the camera's
// answer as a QNetworkReply, so the run judges it like any other reply.
//
// Why not QNetworkAccessManager::post: in Qt 6.4 its HTTP thread pulls the body from the
// GUI thread 16 KB per round trip (a 256 MB upload took four to six times as long as curl
// on loopback), it adds headers of its own, and it re-sends a POST by itself when the
// camera closes the connection during the upload. Here every byte that leaves is ours,
// the file's bytes go from its one shared copy (update/firmwarefiles.h), and a firmware
// file reaches the camera at most once per upload.
//
// A sealed copy is handed to the kernel with sendfile(2): the tool copies none of its bytes,
// and sixteen uploads at once cost little more than one. The head and the framing go
// through the socket's own buffer around it, the file only once that buffer is empty, so
// the order on the wire is the order of the request. Where sendfile cannot send (a plain
// copy, a kernel or filter that refuses it, at any point of the file), the rest of the file
// is written like the other bytes, from where the kernel stopped: the bytes on the wire
// never depend on which way they went.

#include "camera/httpexchange.h"
#include "update/firmwarefiles.h"
#include "update/uploadrequest.h"

#include <QByteArray>
#include <QList>
#include <QNetworkReply>

#include <cstddef>
#include <memory>

#include <sys/types.h>

class QSocketNotifier;
class QTcpSocket;
class QUrl;

// The call that hands a sealed copy's bytes to the kernel, as sendfile(2) has it. Null (the
// default) is sendfile(2) itself; a test puts a call of its own in its place to refuse or fail
// the way an old kernel, a filter or a gone camera does, at any byte. Process-wide, for the
// thread the uploads run in, and changed only while none sends a file; returns the call it
// replaces.
using SendFileCall = ssize_t (*)(int socket, int file, off_t* offset, std::size_t count);
SendFileCall replaceSendFileCall(SendFileCall call);

// A request body: the framing's head, the file's bytes and the framing's tail, sent in
// that order. The file is shared, never copied.
struct UploadBody {
    QByteArray head;
    std::shared_ptr<const FirmwareCopy> file;
    QByteArray tail;
    qint64 size() const { return head.size() + (file ? file->size() : 0) + tail.size(); }
};

class UploadReply : public HttpExchange
{
public:
    // `headers` follow Host in the order given. The connection is opened on the next turn
    // of the event loop, so whatever happens to it arrives after the caller has connected
    // to the reply's signals, even a failure the system reports at once.
    UploadReply(const QByteArray& encodedUrl, const HeaderList& headers, UploadBody body, QObject* parent = nullptr);
    ~UploadReply() override;

    // How a sealed copy's bytes go: handed to the kernel (the default), or written like
    // the others, as they are where the kernel refuses. Before the connection is open.
    enum class FileSending { Kernel, Writes };
    void setFileSending(FileSending sending) { m_kernelSends = sending == FileSending::Kernel; }

    // Bytes of the body handed to the socket so far, and the body's size.
    qint64 bodyBytesSent() const { return m_sent; }
    qint64 bodySize() const { return m_total; }

protected:
    // An answer before the whole body is out does not stand for the upload.
    bool answerStands() override;
    void ending(bool reset) override;

private:
    void openConnection(const QUrl& url);
    void sendMore();
    void sendFile();
    void stopSendingFile();

    QByteArray m_head;
    std::shared_ptr<const FirmwareCopy> m_file;
    QList<QByteArray> m_body;      // the framing's head, the file's bytes, the framing's tail
    bool m_kernelSends = true;     // the file's piece goes by sendfile while the kernel takes it
    bool m_fileTurnDue = false;    // a turn of sendFile is queued
    QSocketNotifier* m_room = nullptr;  // room in the socket again, while the kernel sends the file
    qint64 m_total = 0;
    qint64 m_sent = 0;
    qsizetype m_piece = 0;         // piece of the body being written
    qint64 m_pieceSent = 0;        // of it, bytes handed to the socket
    qint64 m_headLeft = 0;         // head bytes the socket has not written yet
    qint64 m_written = 0;          // body bytes the socket has written
};

#endif
