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

Q_DECLARE_METATYPE(SimFaults)
Q_DECLARE_METATYPE(SimBusyMode)
Q_DECLARE_METATYPE(SimUploadFault)

namespace {

const QByteArray kAuth = QByteArray::fromStdString(simBasicAuthorization("admin", "password"));

QByteArray qb(const std::string& s)
{
    return QByteArray::fromStdString(s);
}

// Reads one HTTP response from a raw socket, within a few seconds.
QByteArray readResponse(QTcpSocket& socket)
{
    QByteArray data;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000) {
        const qsizetype headEnd = data.indexOf("\r\n\r\n");
        if (headEnd >= 0) {
            const QRegularExpression re(QStringLiteral("Content-Length: (\\d+)"), QRegularExpression::CaseInsensitiveOption);
            const auto m = re.match(QString::fromLatin1(data.left(headEnd)));
            if (m.hasMatch() && data.size() >= headEnd + 4 + m.captured(1).toLongLong())
                return data;
        }
        if (socket.bytesAvailable() || socket.waitForReadyRead(200))
            data += socket.readAll();
    }
    return data;
}

} // namespace

class TestCameraSim : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void profileIdentifies_data();
    void profileIdentifies();
    void inquiryAnswer_data();
    void inquiryAnswer();
    void credentials_data();
    void credentials();
    void uploadFault_data();
    void uploadFault();
    void restartWindow_data();
    void restartWindow();
    void rawCapture_data();
    void rawCapture();
    void stopCloses();

private:
    std::unique_ptr<CameraSim> sim;
    std::unique_ptr<QNetworkAccessManager> nam;
    int port = -1;
};

void TestCameraSim::init()
{
    sim = std::make_unique<CameraSim>();
    nam = std::make_unique<QNetworkAccessManager>();
    port = sim->start();
    QVERIFY(port > 0);
}

void TestCameraSim::cleanup()
{
    nam.reset();
    sim.reset();
}

void TestCameraSim::profileIdentifies_data()
{
    QTest::addColumn<int>("model");
    for (int id = kFirstModelId; id <= kLastModelId; ++id)
        QTest::newRow(qPrintable(modelIdName(id))) << id;
}

// Each profile answers all nine version inquiries and is identified by the tool's own rules.
void TestCameraSim::profileIdentifies()
{
    QFETCH(int, model);
    QVERIFY(sim->setModel(modelIdName(model).toStdString()));
    QCOMPARE(sim->model(), model);

    const HttpResult qid = httpGet(*nam, port, "/cgi-bin/qv_cam?cmd=QID&res=1");
    QCOMPARE(qid.status, 200);
    const int qidCode = qid.body == "OID:QV-TK10" ? CAM_QID_TK10
        : qid.body == "OID:QV-TK20"               ? CAM_QID_TK20
        : qid.body == "OID:QV-TK300"              ? CAM_QID_TK300
                                                  : CAM_QID_NONE;
    QVERIFY2(qidCode != CAM_QID_NONE, qid.body.constData());

    QStringList versions;
    for (int n = 0; n < kSimComponentCount; ++n) {
        const QByteArray target = "/cgi-bin/qv_ptz?cmd=%23QSV" + QByteArray::number(n) + "&res=1";
        const HttpResult r = httpGet(*nam, port, target);
        QCOMPARE(r.status, 200);
        QVERIFY(r.body.startsWith("qSV" + QByteArray::number(n)));
        const QString text = QString::fromLatin1(r.body);
        versions << text.right(10).left(6);
        QVERIFY2(QRegularExpression(QStringLiteral("^V\\d\\d\\.\\d\\d$")).match(versions.last()).hasMatch(),
                 qPrintable(text));
        QCOMPARE(versions.last().toStdString(), sim->version(n));
        QCOMPARE(qb(sim->requests().back().target), target);
    }
    QCOMPARE(identifyModel(qidCode, versions[1], versions[4]).modelId, model);
}

void TestCameraSim::inquiryAnswer_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("minMs");

    SimFaults none;
    SimFaults crlf;
    crlf.modelAnswerCrLf = true;
    SimFaults prefix;
    prefix.versionWrongPrefix = true;
    SimFaults shortAnswer;
    shortAnswer.versionShort = true;
    SimFaults slowModel;
    slowModel.modelDelayMs = 300;
    SimFaults slowVersion;
    slowVersion.versionDelayMs = 300;

    const QByteArray qid = "/cgi-bin/qv_cam?cmd=QID&res=1";
    const QByteArray qsv3 = "/cgi-bin/qv_ptz?cmd=%23QSV3&res=1";
    QTest::newRow("model") << qid << none << 200 << QByteArray("OID:QV-TK300") << 0;
    QTest::newRow("version") << qsv3 << none << 200 << QByteArray("qSV3 NET-CPU V02.10 r01") << 0;
    QTest::newRow("bare cgi-bin") << QByteArray("/cgi-bin/") << none << 404 << QByteArray() << 0;
    QTest::newRow("digit out of range") << QByteArray("/cgi-bin/qv_ptz?cmd=%23QSV9&res=1") << none << 404 << QByteArray() << 0;
    QTest::newRow("command without number sign") << QByteArray("/cgi-bin/qv_ptz?cmd=QSV3&res=1") << none << 404
                                                 << QByteArray() << 0;
    QTest::newRow("model answer with CR LF") << qid << crlf << 200 << QByteArray("OID:QV-TK300\r\n") << 0;
    QTest::newRow("wrong prefix") << qsv3 << prefix << 200 << QByteArray("qSV4 NET-CPU V02.10 r01") << 0;
    QTest::newRow("short version") << qsv3 << shortAnswer << 200 << QByteArray("qSV3V02") << 0;
    QTest::newRow("slow model answer") << qid << slowModel << 200 << QByteArray("OID:QV-TK300") << 300;
    QTest::newRow("slow version answer") << qsv3 << slowVersion << 200 << QByteArray("qSV3 NET-CPU V02.10 r01") << 300;
}

void TestCameraSim::inquiryAnswer()
{
    QFETCH(QByteArray, target);
    QFETCH(SimFaults, faults);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, minMs);

    sim->setFaults(faults);
    const HttpResult r = httpGet(*nam, port, target);
    QCOMPARE(r.status, status);
    if (!body.isEmpty())
        QCOMPARE(r.body, body);
    QVERIFY(r.ms >= minMs);
    const SimRequest logged = sim->requests().back();
    QCOMPARE(qb(logged.target), target);
    QCOMPARE(logged.status, status);
}

void TestCameraSim::credentials_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("authorization");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("marker");

    const QByteArray update = "/cgi-bin/qv_update";
    const QByteArray upload = "/cgi-bin/upload";
    QTest::newRow("TK300 right") << int(CAM_MODELID_QV_TK300) << update << kAuth << 200 << QByteArray("cgi-bin");
    QTest::newRow("TK15 right") << int(CAM_MODELID_QV_NEW_TK15_H) << update << kAuth << 200 << QByteArray("cgi-bin");
    QTest::newRow("TK10 right") << int(CAM_MODELID_QV_TK10) << upload << kAuth << 200
                                << QByteArray("Currently resetting");
    QTest::newRow("wrong password") << int(CAM_MODELID_QV_TK300) << update
                                    << qb(simBasicAuthorization("admin", "passw0rd")) << 401 << QByteArray();
    QTest::newRow("wrong user") << int(CAM_MODELID_QV_TKD7_S) << upload
                                << qb(simBasicAuthorization("root", "password")) << 401 << QByteArray();
    QTest::newRow("missing") << int(CAM_MODELID_QV_TK300) << update << QByteArray() << 401 << QByteArray();
    QTest::newRow("other scheme") << int(CAM_MODELID_QV_TK300) << update << "Bearer " + kAuth.mid(6) << 401
                                  << QByteArray();
    QTest::newRow("TK300 on the old path") << int(CAM_MODELID_QV_TK300) << upload << kAuth << 404 << QByteArray();
    QTest::newRow("TK10 on the new path") << int(CAM_MODELID_QV_TK10) << update << kAuth << 404 << QByteArray();
}

void TestCameraSim::credentials()
{
    QFETCH(int, model);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, authorization);
    QFETCH(int, status);
    QFETCH(QByteArray, marker);

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
    if (status == 200) {
        QVERIFY(r.body.contains(marker));
        // Neither family's page may pass for the other's.
        QCOMPARE(r.body.contains("Currently resetting"), old);
        QCOMPARE(r.body.contains("cgi-bin"), !old);
    }
}

void TestCameraSim::uploadFault_data()
{
    QTest::addColumn<SimUploadFault>("fault");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("status"); // 0: connection closed
    QTest::addColumn<bool>("restarting");

    QTest::newRow("refused") << SimUploadFault::Refuse << 0 << 200 << false;
    QTest::newRow("server error") << SimUploadFault::ServerError << 0 << 500 << false;
    QTest::newRow("dropped") << SimUploadFault::DropConnection << 0 << 0 << false;
    QTest::newRow("never returns") << SimUploadFault::NeverReturn << 0 << 200 << true;
    QTest::newRow("slow") << SimUploadFault::None << 300 << 200 << true;
}

void TestCameraSim::uploadFault()
{
    QFETCH(SimUploadFault, fault);
    QFETCH(int, delayMs);
    QFETCH(int, status);
    QFETCH(bool, restarting);

    SimFaults f;
    f.upload = fault;
    f.dropAfterBodyBytes = 100;
    f.uploadDelayMs = delayMs;
    sim->setFaults(f);
    sim->setRestartTime(std::chrono::milliseconds(100));
    const HttpResult r = postFirmware(*nam, port, CAM_MODELID_QV_TK300, "cam.bin", QByteArray(64 * 1024, 'x'), kAuth);

    QCOMPARE(r.status, status);
    QCOMPARE(r.error != QNetworkReply::NoError, status != 200);
    QVERIFY(r.ms >= delayMs);
    if (status == 200)
        QCOMPARE(r.body.contains("cgi-bin"), restarting);
    const SimRequest logged = sim->uploads().back();
    QCOMPARE(logged.status, status);
    if (fault == SimUploadFault::DropConnection)
        QCOMPARE(logged.upload->bodySize, std::size_t(100));

    QTest::qWait(200); // past the restart time
    QCOMPARE(sim->isRestarting(), fault == SimUploadFault::NeverReturn);
    sim->finishRestartNow();
    QVERIFY(!sim->isRestarting());
}

void TestCameraSim::restartWindow_data()
{
    QTest::addColumn<SimBusyMode>("mode");
    QTest::addColumn<bool>("header");

    QTest::newRow("HTTP error") << SimBusyMode::HttpError << true;
    QTest::newRow("connection closed") << SimBusyMode::CloseConnection << true;
    QTest::newRow("QID answer") << SimBusyMode::QidAnswer << true;
    QTest::newRow("file without version line") << SimBusyMode::HttpError << false;
}

// While the camera restarts every inquiry fails in the chosen way; afterwards it answers
// again and reports the version the file carried.
void TestCameraSim::restartWindow()
{
    QFETCH(SimBusyMode, mode);
    QFETCH(bool, header);

    sim->setModel(CAM_MODELID_QV_TK10);
    sim->setBusyMode(mode);
    sim->setRestartTime(std::chrono::milliseconds(500));
    const QByteArray file = (header ? qb(simFirmwareHeader("network_cpu", "V01.77")) : QByteArray()) + "payload";
    QElapsedTimer clock;
    clock.start();
    const HttpResult up = postFirmware(*nam, port, CAM_MODELID_QV_TK10, "net.img", file, kAuth);
    QCOMPARE(up.status, 200);

    const HttpResult qid = httpGet(*nam, port, "/cgi-bin/qv_cam?cmd=QID&res=1");
    const HttpResult qsv = httpGet(*nam, port, "/cgi-bin/qv_ptz?cmd=%23QSV3&res=1");
    QVERIFY(clock.elapsed() < 500);
    switch (mode) {
    case SimBusyMode::HttpError:
        QCOMPARE(qid.status, 503);
        QCOMPARE(qsv.status, 503);
        break;
    case SimBusyMode::CloseConnection:
        QCOMPARE(qid.status, 0);
        QVERIFY(qid.error != QNetworkReply::NoError);
        QVERIFY(qsv.error != QNetworkReply::NoError);
        QCOMPARE(sim->requests().back().status, 0);
        break;
    case SimBusyMode::QidAnswer:
        QCOMPARE(qid.status, 200);
        QVERIFY(qid.body.startsWith("QID:"));
        QCOMPARE(qsv.status, 503);
        break;
    }

    QTRY_COMPARE_WITH_TIMEOUT(httpGet(*nam, port, "/cgi-bin/qv_cam?cmd=QID&res=1").body, QByteArray("OID:QV-TK10"), 3000);
    QVERIFY(clock.elapsed() >= 500);
    const HttpResult after = httpGet(*nam, port, "/cgi-bin/qv_ptz?cmd=%23QSV3&res=1");
    QCOMPARE(QString::fromLatin1(after.body).right(10).left(6), header ? QStringLiteral("V01.77") : QStringLiteral("V01.30"));
}

void TestCameraSim::rawCapture_data()
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
void TestCameraSim::rawCapture()
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
    headers.prepend(qMakePair(QByteArray("Host"), host));
    headers.append(qMakePair(QByteArray("Connection"), QByteArray("Keep-Alive")));
    headers.append(qMakePair(QByteArray("X-Odd"), QByteArray("  spaced value")));
    QByteArray head = "POST " + upPath + " HTTP/1.1\r\n";
    for (const auto& h : headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "\r\n";

    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    QVERIFY(socket.waitForConnected(2000));
    socket.write(head + body);
    QVERIFY(readResponse(socket).startsWith("HTTP/1.1 200"));
    sim->finishRestartNow();
    socket.write("GET /cgi-bin/qv_ptz?cmd=%23QSV1&res=1 HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
    QVERIFY(readResponse(socket).contains("V01.99"));

    const std::vector<SimRequest> log = sim->requests();
    QCOMPARE(log.size(), std::size_t(2));
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
    for (const SimPart& p : up.upload->parts)
        names << QString::fromStdString(p.name);
    QCOMPARE(names, parts);
    QCOMPARE(QString::fromStdString(up.upload->firmwarePart), firmwarePart);
    QCOMPARE(up.upload->firmwareName, std::string("C:\\Users\\op\\fw\\\\new fw.bin"));
    for (const SimPart& p : up.upload->parts) {
        if (p.name == up.upload->firmwarePart)
            QCOMPARE(qb(p.content), file);
    }
    QFile saved(dir.filePath(QStringLiteral("new fw.bin")));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), file);

    QCOMPARE(qb(log[1].target), QByteArray("/cgi-bin/qv_ptz?cmd=%23QSV1&res=1"));
    QCOMPARE(log[1].seq, up.seq + 1);
}

void TestCameraSim::stopCloses()
{
    QCOMPARE(httpGet(*nam, port, "/cgi-bin/qv_cam?cmd=QID&res=1").status, 200);
    sim->stop();
    QVERIFY(!sim->isRunning());
    nam = std::make_unique<QNetworkAccessManager>();
    QCOMPARE(httpGet(*nam, port, "/cgi-bin/qv_cam?cmd=QID&res=1").error, QNetworkReply::ConnectionRefusedError);
    QCOMPARE(sim->start(port), port);
    QCOMPARE(httpGet(*nam, port, "/cgi-bin/qv_cam?cmd=QID&res=1").body, QByteArray("OID:QV-TK300"));
}

QTEST_GUILESS_MAIN(TestCameraSim)
#include "tst_camerasim.moc"
