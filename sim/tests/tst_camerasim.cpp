// What the tool's tests rely on from the simulated camera but cannot see themselves: the credential
// check, the restart window, raw capture. Profiles identify as their model in app/tests/tst_connect.cpp.
#include "camera/caminfo.h"
#include "sim/camerasim.h"
#include "sim/samplefolder.h"
#include "sim/tests/simclient.h"

#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/socket.h>

#include <future>

namespace {

const QByteArray kAuth = QByteArray::fromStdString(simBasicAuthorization("admin", "password"));
const QByteArray kQid = "/cgi-bin/qv_cam?cmd=QID&res=1";
const QByteArray kQsv3 = "/cgi-bin/qv_ptz?cmd=%23QSV3&res=1";

QByteArray qb(const std::string& s) { return QByteArray::fromStdString(s); }

std::unique_ptr<QTcpSocket> rawClient(int port, const QByteArray& bytes)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    if (socket->waitForConnected(2000)) {
        socket->write(bytes);
        socket->waitForBytesWritten(2000);
    }
    return socket;
}

QByteArray uploadHead(const QByteArray& host, qsizetype bodySize)
{
    QByteArray head = "POST /cgi-bin/qv_update HTTP/1.1\r\nHost: " + host + "\r\n";
    for (const auto& h : toolHeaders(ToolForm::Tk15Tk20, bodySize, kAuth, host))
        head += h.first + ": " + h.second + "\r\n";
    return head + "\r\n";
}

enum Silent { SilentModel, SilentUpload, SilentWhileRestarting };

} // namespace

class TestCameraSim : public QObject {
    Q_OBJECT

    std::unique_ptr<CameraSim> sim;
    QNetworkAccessManager nam;
    int port = -1;
    QByteArray host;

private slots:
    void init()
    {
        sim = std::make_unique<CameraSim>();
        QVERIFY((port = sim->start()) > 0);
        host = "127.0.0.1:" + QByteArray::number(port);
    }

    void credentials_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QByteArray>("authorization");  // null: none sent
        QTest::addColumn<int>("status");
        const int tk300 = CAM_MODELID_QV_TK300, tk10 = CAM_MODELID_QV_TK10;
        QTest::newRow("TK300 right") << tk300 << kAuth << 200;
        QTest::newRow("TK10 right") << tk10 << kAuth << 200;
        QTest::newRow("wrong password") << tk300 << qb(simBasicAuthorization("admin", "passw0rd")) << 401;
        QTest::newRow("wrong user") << tk10 << qb(simBasicAuthorization("root", "password")) << 401;
        QTest::newRow("missing") << tk300 << QByteArray() << 401;
    }

    // Each family's marker, and neither family's page passes for the other's.
    void credentials()
    {
        QFETCH(int, model);
        QFETCH(QByteArray, authorization);
        QFETCH(int, status);
        QVERIFY(sim->setModel(model));
        const HttpResult r = postFirmware(nam, port, model, "cam.bin", "firmware bytes", authorization);
        QCOMPARE(r.status, status);
        QCOMPARE(sim->isRestarting(), status == 200);
        QCOMPARE(r.body.contains("Currently resetting"), status == 200 && isTkd7Family(model));
        QCOMPARE(r.body.contains("cgi-bin"), status == 200 && !isTkd7Family(model));
    }

    // While the camera restarts every inquiry fails; afterwards it answers again and reports
    // the version the file carried. How each busy mode reads to the tool is in tst_faults.
    void restartWindow()
    {
        QVERIFY(sim->setModel(CAM_MODELID_QV_TK10));
        sim->setRestartTime(std::chrono::milliseconds(500));
        const QByteArray file = qb(simFirmwareHeader("network_cpu", "V01.77")) + "payload";
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(postFirmware(nam, port, CAM_MODELID_QV_TK10, "net.img", file, kAuth).status, 200);
        QCOMPARE(httpRequest(nam, "http://" + host + kQid).status, 503);
        QCOMPARE(httpRequest(nam, "http://" + host + kQsv3).status, 503);
        QVERIFY(clock.elapsed() < 500);
        QTRY_COMPARE_WITH_TIMEOUT(httpRequest(nam, "http://" + host + kQid).body, QByteArray("OID:QV-TK10"), 3000);
        QVERIFY(clock.elapsed() >= 500);
        QCOMPARE(httpRequest(nam, "http://" + host + kQsv3).body.right(10).left(6), QByteArray("V01.77"));
    }

    // Two requests on one connection: the upload's head and body are kept byte for byte, and
    // the file is saved. The parsed request line, headers and parts of every form are what
    // update/tests/tst_dialogprogressbar.cpp and app/tests/tst_faults.cpp compare.
    void silent_data()
    {
        QTest::addColumn<int>("silent");
        QTest::newRow("model") << int(SilentModel);
        QTest::newRow("upload") << int(SilentUpload);
        QTest::newRow("restarting") << int(SilentWhileRestarting);
    }

    // A silent request is read and held, without an answer, until the client closes; a
    // held request does not keep stop() waiting.
    void silent()
    {
        QFETCH(int, silent);
        SimFaults faults;
        faults.silentModel = silent == SilentModel;
        faults.silentUpload = silent == SilentUpload;
        sim->setFaults(faults);
        const QByteArray body = toolBody(ToolForm::Tk15Tk20, "C:\\fw\\cam.bin", QByteArray(200000, 'f'));
        QByteArray request = "GET " + kQid + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
        if (silent == SilentUpload)
            request = uploadHead(host, body.size()) + body;
        if (silent == SilentWhileRestarting) {
            sim->setBusyMode(SimBusyMode::Silent);
            sim->setRestartTime(std::chrono::seconds(30));
            QCOMPARE(postFirmware(nam, port, CAM_MODELID_QV_TK300, "cam.bin", "firmware", kAuth).status, 200);
        }

        auto first = rawClient(port, request);
        QTRY_COMPARE_WITH_TIMEOUT(sim->heldRequests(), std::size_t(1), 3000);
        QVERIFY(!first->waitForReadyRead(200));
        first->close();
        QTRY_COMPARE_WITH_TIMEOUT(sim->heldRequests(), std::size_t(0), 3000);
        const SimRequest held = sim->requests().back();
        QVERIFY(held.held && held.status == -1);
        if (silent == SilentUpload)
            QCOMPARE(qsizetype(held.upload->bodySize), body.size());

        auto second = rawClient(port, request);
        QTRY_COMPARE_WITH_TIMEOUT(sim->heldRequests(), std::size_t(1), 3000);
        auto stopped = std::async(std::launch::async, [this] { sim->stop(); });
        const bool prompt = stopped.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
        second->abort();
        stopped.wait();
        QVERIFY(prompt);
    }

    // Everything that reached the camera's kernel counts, read or not (the body is read
    // slowly); after the client's reset nothing more does, and what it had not sent never did.
    void bytesOnTheWire()
    {
        SimFaults faults;
        faults.uploadReadBytesPerSecond = 20;
        sim->setFaults(faults);
        const QByteArray start = uploadHead(host, 100000000) + QByteArray(1000, 'x');
        auto client = rawClient(port, start);
        QTRY_COMPARE_WITH_TIMEOUT(sim->bytesReceived(), quint64(start.size()), 3000);
        const quint64 more = 4 << 20; // far beyond what the kernels buffer
        client->write(QByteArray(qsizetype(more), 'y'));
        QTRY_VERIFY_WITH_TIMEOUT(sim->bytesReceived() > quint64(start.size()) + 16384, 3000);
        const linger reset{1, 0};
        QCOMPARE(::setsockopt(int(client->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof(reset)), 0);
        client->abort();
        QTRY_VERIFY_WITH_TIMEOUT(sim->requests().size() == 1 && sim->requests()[0].status != -1, 3000);
        QTest::qWait(100); // the sim closes the connection after logging it
        const quint64 received = sim->bytesReceived();
        QVERIFY(received > quint64(start.size()) + 16384 && received < quint64(start.size()) + more);
        QTest::qWait(300);
        QCOMPARE(sim->bytesReceived(), received);
        QVERIFY(sim->requests()[0].upload->bodySize < 1000); // read at 20 bytes a second
    }

    // The accepted page comes back before any of the body is sent; nothing was accepted.
    void answerEarly()
    {
        SimFaults faults;
        faults.upload = SimUploadFault::AnswerEarly;
        sim->setFaults(faults);
        auto client = rawClient(port, uploadHead(host, 100000));
        QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::UnconnectedState, 3000);
        const QByteArray answer = client->readAll();
        QVERIFY2(answer.startsWith("HTTP/1.1 200 OK\r\n") && answer.contains("cgi-bin/qv_top"), answer.constData());
        QVERIFY(!sim->isRestarting() && !sim->uploads().at(0).upload->accepted);
    }

    // The camera vanishes and comes back on its port while a client still holds a connection.
    void samePortAfterStop()
    {
        auto client = rawClient(port, "GET " + kQid + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
        QVERIFY(client->waitForReadyRead(3000));
        sim->stop();
        QCOMPARE(sim->start(port), port);
        QCOMPARE(httpRequest(nam, "http://" + host + kQid).body, QByteArray("OID:QV-TK300"));
    }

    void rawCapture()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid() && sim->setModel(CAM_MODELID_QV_TKD7_S));
        sim->setSaveDirectory(dir.path().toStdString());
        QByteArray file = qb(simFirmwareHeader("cam_cpu", "V01.99"));
        for (int i = 0; i < 3000; ++i)
            file += char(i * 7);
        file += "\r\n--not-the-boundary\r\n";
        const QByteArray body = toolBody(ToolForm::Cam, "C:\\Users\\op\\fw\\\\new fw.bin", file, "6");
        const RawHeaders headers = RawHeaders{{"Host", host}} + toolHeaders(ToolForm::Cam, body.size(), kAuth, host)
            + RawHeaders{{"Connection", "Keep-Alive"}, {"X-Odd", "  spaced value"}};
        QByteArray head = "POST /cgi-bin/upload HTTP/1.1\r\n";
        for (const auto& h : headers)
            head += h.first + ": " + h.second + "\r\n";
        head += "\r\n";

        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        QVERIFY(socket.waitForConnected(2000));
        socket.write(head + body);
        QTRY_VERIFY_WITH_TIMEOUT(sim->requests().size() == 1 && sim->requests()[0].status == 200, 3000);
        sim->finishRestartNow();
        socket.write("GET /cgi-bin/qv_ptz?cmd=%23QSV1&res=1 HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(sim->requests().size() == 2 && sim->requests()[1].status == 200, 3000);

        const std::vector<SimRequest> log = sim->requests();
        const SimRequest& up = log[0];
        QCOMPARE(qb(up.rawHead), head);
        QCOMPARE(up.headers.back(), (std::pair<std::string, std::string>("X-Odd", "spaced value")));
        QVERIFY(up.upload->bodyRecorded);
        QCOMPARE(qb(up.upload->body), body);
        QCOMPARE(up.upload->firmwarePart, std::string("file_camera"));
        QCOMPARE(up.upload->firmwareName, std::string("C:\\Users\\op\\fw\\\\new fw.bin"));
        QFile saved(dir.filePath(QStringLiteral("new fw.bin")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), file);
        QVERIFY(log[1].seq == up.seq + 1 && qb(log[1].answer).contains("V01.99"));
    }
};

QTEST_GUILESS_MAIN(TestCameraSim)
#include "tst_camerasim.moc"
