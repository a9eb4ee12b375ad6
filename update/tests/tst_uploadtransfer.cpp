// The upload's own HTTP exchange: reading the camera's answer, and the reply when a scripted camera
// on loopback answers early or badly, reads slowly or goes, each way the file's bytes can go; and
// the simulated camera's upload when the kernel refuses sendfile part-way.
// A dropped connection is one of app/tests/tst_faults.cpp's ends.
#include "update/uploadtransfer.h"

#include "camera/caminfo.h"
#include "sim/camerasim.h"

#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <functional>
#include <utility>

#include <sys/sendfile.h>
#include <sys/socket.h>

struct Answer { QByteArray bytes; bool thenClosed; int state, status; QByteArray body; };
enum class Peer { Answers, ReadsSlowly, Closes };
enum class Act { Abort, ShutSending };
// The camera's answer (or its close), once this many body bytes have come in; the reply's
// error and content; the upload's form; an abort (or the connection shut for sending, so
// the system answers the next send with EPIPE) once this many have gone.
struct Exchange {
    QByteArray answer;
    int answerAfter, error;
    QByteArray content;
    UploadForm form = UploadForm::Tk15Tk20;
    Peer peer = Peer::Answers;
    qint64 actAfter = -1;
    Act act = Act::Abort;
};
enum Path { Kernel, Writes, Plain };
Q_DECLARE_METATYPE(Answer)
Q_DECLARE_METATYPE(Exchange)

namespace {

// sendfile as an old kernel or a filter has it (or a gone camera): the system's own until
// `after` of the file's bytes have gone by it, then failing with `error` at every call.
struct Refusal {
    qint64 after = 0;
    int error = 0;
    qint64 handed = 0;   // bytes the system's sendfile took
    int refusals = 0;    // calls failed
};
Refusal refusal;

ssize_t refusingSendFile(int socket, int file, off_t* offset, std::size_t count)
{
    if (refusal.handed >= refusal.after) {
        ++refusal.refusals;
        errno = refusal.error;
        return -1;
    }
    const ssize_t n = ::sendfile(socket, file, offset, std::min(count, std::size_t(refusal.after - refusal.handed)));
    if (n > 0)
        refusal.handed += n;
    return n;
}

} // namespace

class TestUploadTransfer : public QObject
{
    Q_OBJECT

private slots:
    void answer_data()
    {
        QTest::addColumn<Answer>("a");
        const int done = HttpAnswerParser::Complete, bad = HttpAnswerParser::Invalid,
                  open = HttpAnswerParser::Incomplete;
        const auto row = [](const char* name, const QByteArray& bytes, bool closed, int state, int status,
                            const QByteArray& body) { QTest::newRow(name) << Answer{bytes, closed, state, status, body}; };
        const QByteArray chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        row("length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA", false, done, 200, "hello");
        row("length, cut short", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nhello", true, bad, 200, "hello");
        row("until close", "HTTP/1.0 200 OK\r\n\r\nCurrently resetting", true, done, 200, "Currently resetting");
        row("until close, still open", "HTTP/1.0 200 OK\r\n\r\nabc", false, open, 200, "abc");
        row("chunked, sizes in hex", chunked + "4;x=y\r\ncgi-\r\n11\r\nbin/qv_update?x=1\r\n0\r\nTrailer: 1\r\n\r\n", false,
            done, 200, "cgi-bin/qv_update?x=1");
        // Fields after the last chunk never frame the answer, whatever they say.
        row("trailer fields ignored", chunked + "3;x=y\r\nabc\r\n0;x=y\r\nContent-Length: \r\nTr l:1\r\n\r\n", false, done, 200,
            "abc");
        row("last coding decides", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", false,
            done, 200, "abc");
        row("chunk without line end", chunked + "4\r\ncgi-X\r\n", false, bad, 200, "cgi-");
        row("interim answer skipped",
            "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 401 Unauthorized\r\nContent-Length: 2\r\n\r\nno", false, done, 401,
            "no");
        row("no reason phrase", "HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nok", false, done, 200, "ok");
        row("bare line feeds", "HTTP/1.1 500 Oops\nContent-Length: 1\n\nx", false, done, 500, "x");
        row("not http", "OID:QV-TK10\r\n\r\n", false, bad, 0, "");
        row("two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", false, bad, 200, "");
        row("endless head", "HTTP/1.1 200 OK\r\nX: " + QByteArray(70000, 'a'), false, bad, 0, "");
    }

    // Whole and piece by piece alike, as the fuzz replay of fuzz/fuzz_httpanswer.cpp checks.
    void answer()
    {
        QFETCH(Answer, a);
        HttpAnswerParser parser;
        parser.feed(a.bytes);
        if (a.thenClosed)
            parser.closed();
        QCOMPARE(int(parser.state()), a.state);
        QCOMPARE(parser.status(), a.status);
        QCOMPARE(parser.body(), a.body);
    }

    // Each row three times: the file handed to the kernel from a sealed copy, written from
    // it (as where the kernel refuses), and written from a plain copy.
    void exchange_data()
    {
        QTest::addColumn<Exchange>("x");
        QTest::addColumn<int>("path");
        const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
        const int whole = -1, none = 0;  // answered once the whole body is in; never
        const QList<std::pair<const char*, Exchange>> rows{
            {"refused before the body", {"HTTP/1.1 401 Unauthorized\r\nContent-Length: 6\r\n\r\ndenied", 0,
                                         QNetworkReply::AuthenticationRequiredError, "denied"}},
            // A refusal whose page names the marker must still count as failed.
            {"400 with the marker", {"HTTP/1.1 400 Bad Request\r\nContent-Length: 14\r\n\r\n/cgi-bin/verup", 0,
                                     QNetworkReply::UnknownContentError, "/cgi-bin/verup"}},
            {"garbage answer", {"Currently resetting\r\n\r\n", 3000000, QNetworkReply::ProtocolFailure, {}}},
            // An acceptance that comes before the camera has the whole file does not stand for it.
            {"marker before the body", {"HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\ncgi-bin", 0, QNetworkReply::ProtocolFailure, "cgi-bin"}},
            {"marker mid-file", {"HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\ncgi-bin", 5000000, QNetworkReply::ProtocolFailure, "cgi-bin"}},
            {"whole, NET form", {ok, whole, QNetworkReply::NoError, "ok", UploadForm::Tkd7Net}},
            {"whole, CAM form", {ok, whole, QNetworkReply::NoError, "ok", UploadForm::Tkd7Cam}},
            {"whole, TK15/TK20 form", {ok, whole, QNetworkReply::NoError, "ok"}},
            {"camera reads slowly", {ok, whole, QNetworkReply::NoError, "ok", UploadForm::Tk15Tk20, Peer::ReadsSlowly}},
            {"camera closes mid-file", {{}, 3000000, QNetworkReply::RemoteHostClosedError, {}, UploadForm::Tk15Tk20, Peer::Closes}},
            {"aborted mid-file", {{}, none, QNetworkReply::OperationCanceledError, {}, UploadForm::Tk15Tk20, Peer::Answers, 3000000}},
            // sendfile raises SIGPIPE there: it must not end the tool even where nothing ignores it.
            {"sending shut mid-file", {{}, none, QNetworkReply::RemoteHostClosedError, {}, UploadForm::Tk15Tk20, Peer::Answers,
                                       3000000, Act::ShutSending}},
        };
        for (const auto& [name, x] : rows)
            for (const auto& [path, kind] : {std::pair{"kernel", Kernel}, {"writes", Writes}, {"plain", Plain}})
                QTest::newRow(qPrintable(QStringLiteral("%1 (%2)").arg(QLatin1String(name), QLatin1String(path)))) << x << int(kind);
    }

    void exchange()
    {
        QFETCH(Exchange, x);
        QFETCH(int, path);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        // More than the connection's buffers hold, so an early answer finds the body still going out.
        QByteArray file(16000000, Qt::Uninitialized);
        char* at = file.data();
        for (qsizetype i = 0; i < file.size(); ++i)
            at[i] = char((i * 7919) >> 9);
        const auto copy = FirmwareCopy::fromBytes(file, path == Plain ? FirmwareCopy::Holding::Plain : FirmwareCopy::Holding::Sealed);
        QCOMPARE(copy->sealedDescriptor() >= 0, path != Plain);
        const QString address = QStringLiteral("127.0.0.1:%1").arg(server.serverPort());
        const UploadFraming framing = uploadFraming(x.form, "C:\\fw\\main.bin", QStringLiteral("01"));
        const qint64 size = framing.head.size() + file.size() + framing.tail.size();
        const HeaderList headers = uploadHeaders(x.form, QStringLiteral("YWRtaW46cGFzc3dvcmQ="), address, size);
        QByteArray expected = "POST " + QUrl(QString::fromLatin1(uploadUrl(x.form, address))).path().toLatin1()
            + " HTTP/1.1\r\nHost: " + address.toLatin1() + "\r\n";
        for (const auto& [name, value] : headers)
            expected += name + ": " + value + "\r\n";
        expected += "Connection: close\r\nUser-Agent: Mozilla/5.0\r\n\r\n" + framing.head + file + framing.tail;

        int connections = 0;
        QByteArray received;
        QTimer slowly;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* s = server.nextPendingConnection();
            ++connections;
            const auto take = [&, s](qint64 most) {
                received += most < 0 ? s->readAll() : s->read(most);
                const qsizetype headEnd = received.indexOf("\r\n\r\n");
                const qint64 due = x.answerAfter < 0 ? size : x.answerAfter;
                if (headEnd < 0 || received.size() - headEnd - 4 < due || s->property("answered").toBool())
                    return;
                s->setProperty("answered", true);
                if (x.peer == Peer::Closes)
                    s->close();  // with the body still coming: the system resets the connection
                else
                    s->write(x.answer);
            };
            if (x.peer != Peer::ReadsSlowly) {
                connect(s, &QTcpSocket::readyRead, s, [take] { take(-1); });
                return;
            }
            // 64 KB every few milliseconds: the sender finds the connection full again and again.
            s->setReadBufferSize(64 * 1024);
            connect(&slowly, &QTimer::timeout, s, [take] { take(64 * 1024); });
            slowly.start(2);
        });

        UploadReply reply(uploadUrl(x.form, address), headers, {framing.head, copy, framing.tail});
        reply.setFileSending(path == Writes ? UploadReply::FileSending::Writes : UploadReply::FileSending::Kernel);
        QList<qint64> progress;
        struct sigaction pipeBefore {}, pipe {};
        pipe.sa_handler = path == Kernel ? SIG_DFL : SIG_IGN;
        ::sigaction(SIGPIPE, nullptr, &pipeBefore);
        const auto restorePipe = qScopeGuard([&] { ::sigaction(SIGPIPE, &pipeBefore, nullptr); });
        connect(&reply, &QNetworkReply::uploadProgress, this, [&](qint64 sent, qint64 total) {
            progress << sent;
            QCOMPARE(total, size);
            if (x.actAfter < 0 || sent < x.actAfter || reply.isFinished() || std::exchange(x.actAfter, -1) < 0)
                return;
            if (x.act == Act::Abort) {
                reply.abort();
                return;
            }
            // Qt's own writes rely on SIGPIPE being ignored, as Qt has it once it makes a
            // socket (QtTest makes it fatal instead); sendfile must not.
            ::sigaction(SIGPIPE, &pipe, &pipeBefore);
            ::shutdown(int(reply.findChild<QTcpSocket*>()->socketDescriptor()), SHUT_WR);
        });
        QSignalSpy finished(&reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(int(reply.error()), x.error);
        QCOMPARE(reply.readAll(), x.content);
        // Nothing is ever sent twice, the bytes are exactly the request's, and progress only grows.
        QCOMPARE(connections, 1);
        QVERIFY(expected.startsWith(received));
        QVERIFY(std::adjacent_find(progress.begin(), progress.end(), std::greater_equal<>()) == progress.end());
        if (x.error == QNetworkReply::NoError)
            QVERIFY(received.size() == expected.size() && progress.last() == size);
    }

    // Refused at the file's first byte or part-way, even after waiting for room: the rest is
    // written from where the kernel stopped, and the camera gets the body byte for byte. A
    // failure that means the camera has gone is that, never a refusal.
    void kernelRefuses_data()
    {
        QTest::addColumn<qint64>("after");
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("gone");
        // 4 MB go to the kernel in one turn at most (kSendTurn).
        QTest::newRow("EINVAL at the first byte") << qint64(0) << EINVAL << false;
        QTest::newRow("ENOSYS at the first byte") << qint64(0) << ENOSYS << false;
        QTest::newRow("EINVAL after one byte") << qint64(1) << EINVAL << false;
        QTest::newRow("EPERM (a filter) mid-turn") << qint64(1000003) << EPERM << false;
        QTest::newRow("ENOSYS past a turn's 4 MB") << qint64(5000001) << ENOSYS << false;
        QTest::newRow("EPIPE at the first byte: gone") << qint64(0) << EPIPE << true;
        QTest::newRow("ECONNRESET mid-file: gone") << qint64(5000001) << ECONNRESET << true;
    }

    void kernelRefuses()
    {
        QFETCH(qint64, after);
        QFETCH(int, error);
        QFETCH(bool, gone);
        CameraSim camera;
        QVERIFY(camera.start() > 0);
        camera.setModel(CAM_MODELID_QV_TK300);
        camera.setRestartTime(std::chrono::milliseconds(0));
        QByteArray file = "KELVORA-SIM-FW component=camera_cpu version=V01.50\n";
        file.reserve(8000000);
        while (file.size() < 8000000)
            file += char(file.size() * 7919 >> 9);
        const auto copy = FirmwareCopy::fromBytes(file, FirmwareCopy::Holding::Sealed);
        QVERIFY(copy->sealedDescriptor() >= 0);
        const QString address = QString::fromStdString(camera.address());
        const UploadFraming framing = uploadFraming(UploadForm::Tk15Tk20, "C:\\fw\\main.bin", QStringLiteral("5"));
        const QByteArray body = framing.head + file + framing.tail;
        const HeaderList headers = uploadHeaders(UploadForm::Tk15Tk20, QStringLiteral("YWRtaW46cGFzc3dvcmQ="), address, body.size());

        refusal = {after, error};
        const SendFileCall before = replaceSendFileCall(&refusingSendFile);
        const auto restore = qScopeGuard([before] { replaceSendFileCall(before); });
        UploadReply reply(uploadUrl(UploadForm::Tk15Tk20, address), headers, {framing.head, copy, framing.tail});
        QList<qint64> progress;
        connect(&reply, &QNetworkReply::uploadProgress, this, [&](qint64 sent, qint64) { progress << sent; });
        QSignalSpy finished(&reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(20000));
        // The kernel took what it took, refused once, and was not asked again.
        QCOMPARE(refusal.handed, after);
        QCOMPARE(refusal.refusals, 1);
        QVERIFY(std::adjacent_find(progress.begin(), progress.end(), std::greater_equal<>()) == progress.end());
        if (gone) {
            QCOMPARE(int(reply.error()), int(QNetworkReply::RemoteHostClosedError));
            QCOMPARE(reply.bodyBytesSent(), framing.head.size() + after);
            for (const SimRequest& r : camera.uploads())
                QVERIFY(!r.upload || !r.upload->accepted);
            return;
        }
        QCOMPARE(int(reply.error()), int(QNetworkReply::NoError));
        QCOMPARE(reply.bodyBytesSent(), body.size());
        QCOMPARE(progress.last(), body.size());
        QTRY_VERIFY_WITH_TIMEOUT(camera.uploads().size() == 1 && camera.uploads().front().upload, 5000);
        const SimUpload& got = *camera.uploads().front().upload;
        QVERIFY(got.bodyRecorded);
        const QByteArray received = QByteArray::fromStdString(got.body);
        const qsizetype same = std::mismatch(received.begin(), received.end(), body.begin(), body.end()).first - received.begin();
        QVERIFY2(received == body, qPrintable(QStringLiteral("%1 of %2 bytes received, the first %3 as sent")
                                                  .arg(received.size()).arg(body.size()).arg(same)));
        QVERIFY(got.accepted);
    }

    // The system may refuse a connection inside the call that asks for it (no route to the
    // camera any more): the reply must still finish where its owner can see it. The broadcast
    // address is refused that way without anything being sent.
    void connectionRefusedAtOnce()
    {
        UploadReply reply("http://255.255.255.255/cgi-bin/qv_update", {}, {QByteArray("x"), nullptr, {}});
        QSignalSpy finished(&reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(2000));
        QVERIFY(reply.error() != QNetworkReply::NoError);
    }
};

QTEST_GUILESS_MAIN(TestUploadTransfer)
#include "tst_uploadtransfer.moc"
