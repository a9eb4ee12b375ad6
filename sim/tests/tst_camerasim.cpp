// What the tool's tests rely on from the simulated camera but cannot see themselves: the credential
// check, the restart window, raw capture. Profiles identify as their model in app/tests/tst_connect.cpp.
#include "camera/caminfo.h"
#include "sim/camerasim.h"
#include "sim/samplefolder.h"
#include "sim/tests/simclient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/socket.h>

#include <atomic>
#include <future>
#include <thread>

namespace {

const QByteArray kAuth = QByteArray::fromStdString(simBasicAuthorization("admin", "password"));
const QByteArray kQid = "/cgi-bin/qv_cam?cmd=QID&res=1";
const QByteArray kQsv3 = "/cgi-bin/qv_ptz?cmd=%23QSV3&res=1";

QByteArray qb(const std::string& s) { return QByteArray::fromStdString(s); }

std::unique_ptr<QTcpSocket> rawClient(int port, const QByteArray& bytes, const QString& host = QStringLiteral("127.0.0.1"))
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(host, quint16(port));
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

// Several cameras in one process, more than it has loops.
enum Fleet { OwnLogs, HeldAndSlowNeighbours, ConsecutiveAddresses, StopOneAmongMany, BusyLoop };
constexpr int kFleet = 12;

QByteArray modelInquiry(const QByteArray& host, bool close = true)
{
    return "GET " + kQid + " HTTP/1.1\r\nHost: " + host + (close ? "\r\nConnection: close" : "") + "\r\n\r\n";
}

// The answer's body once it is all in (within 3 s), or "".
QByteArray answerBody(QTcpSocket& socket)
{
    QByteArray in;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000) {
        in += socket.readAll();
        const qsizetype body = in.indexOf("\r\n\r\n") + 4;
        const qsizetype length = in.indexOf("Content-Length: ");
        if (body >= 4 && length >= 0 && in.size() - body >= in.mid(length + 16, 8).split('\r').first().toInt())
            return in.mid(body);
        socket.waitForReadyRead(100);
    }
    return {};
}

int threads()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = status.readAll();
    const qsizetype at = text.indexOf("Threads:");
    return at < 0 ? -1 : text.mid(at + 8, text.indexOf('\n', at) - at - 8).trimmed().toInt();
}

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

    void fleet_data()
    {
        QTest::addColumn<int>("scenario");
        QTest::newRow("each camera its own log and bytes") << int(OwnLogs);
        QTest::newRow("held and slow neighbours hold nobody up") << int(HeldAndSlowNeighbours);
        QTest::newRow("consecutive addresses, one closed") << int(ConsecutiveAddresses);
        QTest::newRow("one stops and starts among many") << int(StopOneAmongMany);
        QTest::newRow("a busy loop still counts every byte") << int(BusyLoop);
    }

    // Cameras share the process's few threads: each keeps its own log, counters, faults and
    // address, none waits behind another's waits, and the threads do not grow with them.
    void fleet()
    {
        QFETCH(int, scenario);
        const int threadsBefore = threads();
        std::vector<std::unique_ptr<CameraSim>> cams;
        std::vector<QString> hosts;
        const int models[] = {CAM_MODELID_QV_TK10, CAM_MODELID_QV_TK300, CAM_MODELID_QV_NEW_TK20_H};
        int samePort = 0;
        for (int i = 0; i < kFleet; ++i) {
            cams.push_back(std::make_unique<CameraSim>());
            QVERIFY(cams.back()->setModel(models[i % 3]));
            // 127.77.0.3 is left closed between its neighbours.
            const bool spread = scenario == ConsecutiveAddresses;
            hosts.push_back(spread ? QStringLiteral("127.77.0.%1").arg(i < 2 ? i + 1 : i + 2) : QStringLiteral("127.0.0.1"));
            const int bound = cams.back()->start(samePort, hosts.back().toStdString());
            QVERIFY(bound > 0);
            samePort = spread ? bound : 0;
        }
        auto hostOf = [&](int i) { return (hosts[std::size_t(i)] + ':' + QString::number(cams[std::size_t(i)]->port())).toLatin1(); };
        auto ask = [&](int i) {
            auto client = rawClient(cams[std::size_t(i)]->port(), modelInquiry(hostOf(i)), hosts[std::size_t(i)]);
            return answerBody(*client);
        };
        auto own = [&](int i) { return QByteArray::fromStdString(simProfile(models[i % 3])->modelAnswer); };

        if (scenario == OwnLogs) {
            // i + 1 requests to camera i, all at once: each head comes in two parts, so every
            // request waits halfway and they go on in whatever order the loops take them.
            std::vector<std::unique_ptr<QTcpSocket>> clients;
            for (int i = 0; i < kFleet; ++i) {
                for (int n = 0; n <= i; ++n)
                    clients.push_back(rawClient(cams[std::size_t(i)]->port(), modelInquiry(hostOf(i)).chopped(2)));
            }
            QTest::qWait(100);
            for (auto& client : clients)
                client->write("\r\n"), client->flush();
            for (int i = 0, c = 0; i < kFleet; ++i) {
                for (int n = 0; n <= i; ++n)
                    QCOMPARE(answerBody(*clients[std::size_t(c++)]), own(i));
                const std::vector<SimRequest> log = cams[std::size_t(i)]->requests();
                QCOMPARE(int(log.size()), i + 1);
                for (const SimRequest& r : log)
                    QVERIFY(qb(r.rawHead) == modelInquiry(hostOf(i)) && r.status == 200 && qb(r.answer) == own(i));
                QCOMPARE(cams[std::size_t(i)]->bytesReceived(), quint64((i + 1) * modelInquiry(hostOf(i)).size()));
            }
        } else if (scenario == HeldAndSlowNeighbours) {
            // Half the cameras hold every connection they get or answer only after seconds.
            std::vector<std::unique_ptr<QTcpSocket>> waiting;
            for (int i = 0; i < kFleet / 2; ++i) {
                SimFaults f;
                f.silentVersion = true;
                f.modelDelayMs = 3000;
                cams[std::size_t(i)]->setFaults(f);
                for (int n = 0; n < 3; ++n)
                    waiting.push_back(rawClient(cams[std::size_t(i)]->port(), "GET " + kQsv3 + " HTTP/1.1\r\n\r\n"));
                waiting.push_back(rawClient(cams[std::size_t(i)]->port(), modelInquiry(hostOf(i))));
                QTRY_COMPARE_WITH_TIMEOUT(cams[std::size_t(i)]->heldRequests(), std::size_t(3), 3000);
            }
            QElapsedTimer clock;
            clock.start();
            for (int i = kFleet / 2; i < kFleet; ++i)
                QCOMPARE(ask(i), own(i));
            QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        } else if (scenario == ConsecutiveAddresses) {
            for (int i = 0; i < kFleet; ++i) {
                QCOMPARE(ask(i), own(i));
                QCOMPARE(cams[std::size_t(i)]->requests().size(), std::size_t(1));
            }
            QTcpSocket closed;
            closed.connectToHost(QStringLiteral("127.77.0.3"), quint16(samePort));
            QVERIFY(!closed.waitForConnected(3000));
            QCOMPARE(closed.error(), QAbstractSocket::ConnectionRefusedError);
        } else if (scenario == BusyLoop) {
            // While the camera's thread is kept busy (here by its observer, as by a neighbour's
            // work), a new connection's request has still reached it.
            std::atomic<bool> busy{false};
            cams[0]->setRequestObserver([&busy](const SimRequest&) {
                if (!busy.exchange(true))
                    std::this_thread::sleep_for(std::chrono::milliseconds(500));
            });
            auto first = rawClient(cams[0]->port(), modelInquiry(hostOf(0)));
            QTRY_VERIFY_WITH_TIMEOUT(busy, 3000);
            auto second = rawClient(cams[0]->port(), modelInquiry(hostOf(0)));
            QCOMPARE(cams[0]->bytesReceived(), quint64(2 * modelInquiry(hostOf(0)).size()));
            QCOMPARE(answerBody(*second), own(0));
        } else {
            // The stopped camera's connection ends, its neighbours' stay, and it comes back
            // on its port with its log.
            const int gone = 5, next = 6;
            auto mine = rawClient(cams[gone]->port(), modelInquiry(hostOf(gone), false));
            auto theirs = rawClient(cams[next]->port(), modelInquiry(hostOf(next), false));
            QVERIFY(answerBody(*mine) == own(gone) && answerBody(*theirs) == own(next));
            const int port = cams[gone]->port();
            auto stopped = std::async(std::launch::async, [&] { cams[gone]->stop(); });
            QVERIFY(stopped.wait_for(std::chrono::seconds(2)) == std::future_status::ready);
            QVERIFY(mine->state() == QAbstractSocket::UnconnectedState || mine->waitForDisconnected(3000));
            theirs->write(modelInquiry(hostOf(next), false));
            QCOMPARE(answerBody(*theirs), own(next));
            for (int i = 0; i < kFleet; ++i) {
                if (i != gone)
                    QCOMPARE(ask(i), own(i));
            }
            QCOMPARE(rawClient(port, modelInquiry(hostOf(gone)))->state(), QAbstractSocket::UnconnectedState);
            QCOMPARE(cams[gone]->start(port), port);
            QCOMPARE(ask(gone), own(gone));
            QCOMPARE(cams[gone]->requests().size(), std::size_t(2));
        }
        // The process's loops were running already (for `sim`): nothing more for these cameras.
        QCOMPARE(threads(), threadsBefore);
    }

    // kelvora-camsim --model takes a model as any program prints it.
    void modelOption_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("exitCode");   // -1: runs, as the camera it prints
        QTest::addColumn<QString>("out");    // the camera's line, or what the refusal holds
        QTest::newRow("list file's name") << "TK300" << -1 << "Simulated camera QV-TK300 (CAM_MODELID_QV_TK300)";
        QTest::newRow("window's name") << "QV-TKD7H" << -1 << "Simulated camera QV-TKD7H (CAM_MODELID_QV_TKD7_H)";
        QTest::newRow("fleet's name, lower case") << "qv_new_tk20_h" << -1 << "Simulated camera QV-TK20H (CAM_MODELID_QV_NEW_TK20_H)";
        QTest::newRow("number") << "12" << -1 << "Simulated camera QV-TK15H (CAM_MODELID_QV_NEW_TK15_H)";
        QTest::newRow("window's name of two models") << "QV-TK15S" << 2 << "QV_OLD_TK15_S and QV_NEW_TK15_S";
        QTest::newRow("unknown") << "QV_TK99" << 2 << "QV_NEW_TK15_H";
        QTest::newRow("unknown number") << "13" << 2 << "1 to 12";
    }

    void modelOption()
    {
        QFETCH(QString, model);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QProcess p;
        p.start(QStringLiteral(KELVORA_CAMSIM_EXE), {QStringLiteral("--model"), model, QStringLiteral("--bind"),
                                                     QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                                                     QStringLiteral("0"), QStringLiteral("--quiet")});
        QVERIFY(p.waitForStarted(10000));
        if (exitCode >= 0) {
            QVERIFY(p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit);
            QCOMPARE(p.exitCode(), exitCode);
            const QString err = QString::fromUtf8(p.readAllStandardError());
            QVERIFY2(err.contains(out), qPrintable(err));
            return;
        }
        QElapsedTimer clock;
        clock.start();
        while (!p.canReadLine() && p.state() == QProcess::Running && clock.elapsed() < 10000)
            p.waitForReadyRead(100);
        const QString first = QString::fromUtf8(p.readLine()).trimmed();
        p.terminate();
        if (!p.waitForFinished(5000))
            p.kill();
        QCOMPARE(first, out);
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
