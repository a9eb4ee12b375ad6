// What the tool's tests rely on from the simulated camera but cannot see themselves:
// profiles that identify as their model, the credential check, the restart window, and
// uploads kept byte for byte beside cpp-httplib's multipart parse.
#include "camera/caminfo.h"
#include "sim/camerasim.h"
#include "sim/samplefolder.h"
#include "sim/tests/simclient.h"

#include <QFile>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(SimBusyMode)

namespace {

const QByteArray kAuth = QByteArray::fromStdString(simBasicAuthorization("admin", "password"));
const QByteArray kQid = "/cgi-bin/qv_cam?cmd=QID&res=1";

QByteArray qb(const std::string& s)
{
    return QByteArray::fromStdString(s);
}

QByteArray qsv(int n)
{
    return "/cgi-bin/qv_ptz?cmd=%23QSV" + QByteArray::number(n) + "&res=1";
}

} // namespace

class TestCameraSim : public QObject {
    Q_OBJECT

    std::unique_ptr<CameraSim> sim;
    std::unique_ptr<QNetworkAccessManager> nam;
    int port = -1;

private slots:
    void init()
    {
        sim = std::make_unique<CameraSim>();
        nam = std::make_unique<QNetworkAccessManager>();
        port = sim->start();
        QVERIFY(port > 0);
    }

    void cleanup()
    {
        nam.reset();
        sim.reset();
    }

    void profiles_data()
    {
        QTest::addColumn<int>("model");
        for (int id = kFirstModelId; id <= kLastModelId; ++id)
            QTest::newRow(qPrintable(modelIdName(id))) << id;
    }

    // The exact model answer and nine versions in the shape the tool accepts, which its
    // own rules identify as the profile's model; anything else is an HTTP error.
    void profiles()
    {
        QFETCH(int, model);
        QVERIFY(sim->setModel(modelIdName(model).toStdString()));
        const HttpResult qid = httpGet(*nam, port, kQid);
        const int code = qid.body == "OID:QV-TK10" ? CAM_QID_TK10
            : qid.body == "OID:QV-TK20"            ? CAM_QID_TK20
            : qid.body == "OID:QV-TK300"           ? CAM_QID_TK300
                                                   : CAM_QID_NONE;
        QVERIFY2(qid.status == 200 && code != CAM_QID_NONE, qid.body.constData());
        QStringList versions;
        for (int n = 0; n < kSimComponentCount; ++n) {
            const HttpResult r = httpGet(*nam, port, qsv(n));
            const QString text = QString::fromLatin1(r.body);
            versions << text.right(10).left(6);
            QVERIFY2(r.status == 200 && r.body.startsWith("qSV" + QByteArray::number(n))
                         && QRegularExpression(QStringLiteral("^V\\d\\d\\.\\d\\d$")).match(versions.last()).hasMatch(),
                     qPrintable(text));
        }
        QCOMPARE(identifyModel(code, versions[SIM_CAM_CPU], versions[SIM_BACKEND_FPGA]).modelId, model);
        for (const QByteArray& other : {qsv(9), QByteArray("/cgi-bin/"), QByteArray("/cgi-bin/qv_ptz?cmd=QSV3&res=1")})
            QCOMPARE(httpGet(*nam, port, other).status, 404);
    }

    void credentials_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<int>("status");
        const QByteArray update = "/cgi-bin/qv_update";
        const QByteArray upload = "/cgi-bin/upload";
        const int tk300 = CAM_MODELID_QV_TK300;
        QTest::newRow("TK300 right") << tk300 << update << kAuth << 200;
        QTest::newRow("TK10 right") << int(CAM_MODELID_QV_TK10) << upload << kAuth << 200;
        QTest::newRow("wrong password") << tk300 << update << qb(simBasicAuthorization("admin", "passw0rd")) << 401;
        QTest::newRow("wrong user") << int(CAM_MODELID_QV_TKD7_S) << upload << qb(simBasicAuthorization("root", "password"))
                                    << 401;
        QTest::newRow("missing") << tk300 << update << QByteArray() << 401;
        QTest::newRow("TK300 on the old path") << tk300 << upload << kAuth << 404;
        QTest::newRow("TK10 on the new path") << int(CAM_MODELID_QV_TK10) << update << kAuth << 404;
    }

    void credentials()
    {
        QFETCH(int, model);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, authorization);
        QFETCH(int, status);
        sim->setModel(model);
        const bool old = isTkd7Family(model);
        const ToolForm form = old ? ToolForm::Cam : ToolForm::Tk15Tk20;
        const QByteArray host = "127.0.0.1:" + QByteArray::number(port);
        const QByteArray body = toolBody(form, "C:\\fw\\\\cam.bin", "firmware bytes");
        RawHeaders headers = toolHeaders(form, body.size(), authorization, host);
        if (authorization.isEmpty())
            headers.removeAt(3);
        const HttpResult r = httpRequest(*nam, "http://" + host + path, &body, headers);
        QCOMPARE(r.status, status);
        QCOMPARE(sim->isRestarting(), status == 200);
        // Each family's marker, and neither family's page passes for the other's.
        if (status == 200) {
            QCOMPARE(r.body.contains("Currently resetting"), old);
            QCOMPARE(r.body.contains("cgi-bin"), !old);
        }
    }

    void restartWindow_data()
    {
        QTest::addColumn<SimBusyMode>("mode");
        QTest::addColumn<bool>("header");
        QTest::addColumn<int>("qidStatus");  // 0: connection closed
        QTest::addColumn<int>("versionStatus");
        QTest::newRow("HTTP error") << SimBusyMode::HttpError << true << 503 << 503;
        QTest::newRow("connection closed") << SimBusyMode::CloseConnection << true << 0 << 0;
        QTest::newRow("QID answer") << SimBusyMode::QidAnswer << true << 200 << 503;
        QTest::newRow("file without version line") << SimBusyMode::HttpError << false << 503 << 503;
    }

    // While the camera restarts every inquiry fails in the chosen way; afterwards it answers
    // again and reports the version the file carried.
    void restartWindow()
    {
        QFETCH(SimBusyMode, mode);
        QFETCH(bool, header);
        QFETCH(int, qidStatus);
        QFETCH(int, versionStatus);
        sim->setModel(CAM_MODELID_QV_TK10);
        sim->setBusyMode(mode);
        sim->setRestartTime(std::chrono::milliseconds(500));
        const QByteArray file = (header ? qb(simFirmwareHeader("network_cpu", "V01.77")) : QByteArray()) + "payload";
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(postFirmware(*nam, port, CAM_MODELID_QV_TK10, "net.img", file, kAuth).status, 200);
        const HttpResult qid = httpGet(*nam, port, kQid);
        const HttpResult version = httpGet(*nam, port, qsv(3));
        QVERIFY(clock.elapsed() < 500);
        QCOMPARE(qid.status, qidStatus);
        QCOMPARE(version.status, versionStatus);
        QCOMPARE(qid.error == QNetworkReply::NoError, qidStatus == 200);
        QCOMPARE(qid.body.startsWith("QID:"), qidStatus == 200);

        QTRY_COMPARE_WITH_TIMEOUT(httpGet(*nam, port, kQid).body, QByteArray("OID:QV-TK10"), 3000);
        QVERIFY(clock.elapsed() >= 500);
        const QString after = QString::fromLatin1(httpGet(*nam, port, qsv(3)).body);
        QCOMPARE(after.right(10).left(6), header ? QStringLiteral("V01.77") : QStringLiteral("V01.30"));
    }

    void rawCapture_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<int>("form");
        QTest::addColumn<QStringList>("parts");
        QTest::addColumn<QString>("firmwarePart");
        QTest::newRow("network file, TK10") << int(CAM_MODELID_QV_TK10) << int(ToolForm::Net)
                                            << QStringList{"file_camera", "chk_file", "file_soft", "initial"}
                                            << QStringLiteral("file_soft");
        QTest::newRow("camera file, TKD7 S") << int(CAM_MODELID_QV_TKD7_S) << int(ToolForm::Cam)
                                             << QStringList{"chk_file", "file_camera", ""} << QStringLiteral("file_camera");
        QTest::newRow("TK15 H") << int(CAM_MODELID_QV_OLD_TK15_H) << int(ToolForm::Tk15Tk20)
                                << QStringList{"fw_path", "fw_type"} << QStringLiteral("fw_path");
    }

    // Two requests on one connection: the upload is kept byte for byte with its headers in
    // the order sent, its parts as cpp-httplib parsed them, and the file is saved.
    void rawCapture()
    {
        QFETCH(int, model);
        QFETCH(int, form);
        QFETCH(QStringList, parts);
        QFETCH(QString, firmwarePart);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        sim->setModel(model);
        sim->setSaveDirectory(dir.path().toStdString());

        QByteArray file = qb(simFirmwareHeader("cam_cpu", "V01.99"));
        for (int i = 0; i < 3000; ++i)
            file += char(i * 7);
        file += "\r\n--not-the-boundary\r\n";
        const QByteArray body = toolBody(ToolForm(form), "C:\\Users\\op\\fw\\\\new fw.bin", file, "6");
        const QByteArray upPath = isTkd7Family(model) ? "/cgi-bin/upload" : "/cgi-bin/qv_update";
        const QByteArray host = "127.0.0.1:" + QByteArray::number(port);
        RawHeaders headers = toolHeaders(ToolForm(form), body.size(), kAuth, host);
        headers.prepend({"Host", host});
        headers << qMakePair(QByteArray("Connection"), QByteArray("Keep-Alive"))
                << qMakePair(QByteArray("X-Odd"), QByteArray("  spaced value"));
        QByteArray head = "POST " + upPath + " HTTP/1.1\r\n";
        for (const auto& h : headers)
            head += h.first + ": " + h.second + "\r\n";
        head += "\r\n";

        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        QVERIFY(socket.waitForConnected(2000));
        socket.write(head + body);
        QTRY_VERIFY_WITH_TIMEOUT(sim->requests().size() == 1 && sim->requests()[0].status == 200, 3000);
        sim->finishRestartNow();
        socket.write("GET " + qsv(1) + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(sim->requests().size() == 2 && sim->requests()[1].status == 200, 3000);

        const std::vector<SimRequest> log = sim->requests();
        QVERIFY(qb(log[1].answer).contains("V01.99"));
        const SimRequest& up = log[0];
        QCOMPARE(qb(up.rawHead), head);
        QCOMPARE(qb(up.requestLine), "POST " + upPath + " HTTP/1.1");
        QCOMPARE(up.headers.size(), std::size_t(headers.size()));
        for (qsizetype i = 0; i < headers.size(); ++i) {
            QCOMPARE(qb(up.headers[std::size_t(i)].first), headers[i].first);
            QCOMPARE(qb(up.headers[std::size_t(i)].second), headers[i].second.trimmed());
        }
        QVERIFY(up.upload->bodyRecorded);
        QCOMPARE(qb(up.upload->body), body);
        QStringList names;
        for (const SimPart& p : up.upload->parts) {
            names << QString::fromStdString(p.name);
            if (p.name == up.upload->firmwarePart)
                QCOMPARE(qb(p.content), file);
        }
        QCOMPARE(names, parts);
        QCOMPARE(QString::fromStdString(up.upload->firmwarePart), firmwarePart);
        QCOMPARE(up.upload->firmwareName, std::string("C:\\Users\\op\\fw\\\\new fw.bin"));
        QFile saved(dir.filePath(QStringLiteral("new fw.bin")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), file);
        QCOMPARE(qb(log[1].target), qsv(1));
        QCOMPARE(log[1].seq, up.seq + 1);
    }
};

QTEST_GUILESS_MAIN(TestCameraSim)
#include "tst_camerasim.moc"
