// The whole tool from Connect to a finished update, driven through the real windows
// against the simulated camera, as an operator would use it.
#include "app/mainwindow.h"
#include "sim/camerasim.h"
#include "sim/samplefolder.h"
#include "tests/support/logcapture.h"
#include "tests/support/operator.h"
#include "update/runstate.h"

#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <algorithm>

namespace {

const QString kUser = QStringLiteral("operat\u00f6r");
const QString kPassword = QStringLiteral("s3cr:t");
// What the camera compares: the user ID's bytes as the tool sends them, in Latin-1.
const std::string kUserOnWire = kUser.toLatin1().toStdString();

} // namespace

class TestFlow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void updateRuns_data();
    void updateRuns();
    void refused_data();
    void refused();

private:
    void connectCamera();
    void chooseFolder(const QString& folder);

    CameraSim m_sim;
    QTemporaryDir m_dir;
    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<Operator> m_op;
    std::unique_ptr<MainWindow> m_w;
};

void TestFlow::init()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(writeSampleFolder(m_dir.path().toStdString()));
    m_sim.setCredentials(kUserOnWire, kPassword.toStdString());
    m_sim.setRestartTime(std::chrono::milliseconds(50));
    QVERIFY(m_sim.start() > 0);
    m_log = std::make_unique<LogCapture>();
    m_op = std::make_unique<Operator>();
    m_op->user = kUser;
    m_op->password = kPassword;
    // The reset wait's one-second ticks, shortened so the test does not wait for the
    // camera's write-and-restart time.
    m_op->onProgress = [](DialogProgressBar* progress) { progress->setResetWaitTickInterval(1); };
    m_w = std::make_unique<MainWindow>();
    m_w->show();
}

void TestFlow::cleanup()
{
    // The credential never reaches the log, in clear or encoded.
    const QStringList leaked = m_log->secretsFound(credentialForms(kUser, kPassword));
    m_w.reset();
    m_op.reset();
    m_log.reset();
    m_sim.stop();
    m_sim.setFaults({});
    m_sim.clearLog();
    QCOMPARE(leaked, QStringList());
}

void TestFlow::connectCamera()
{
    child<QLineEdit>(*m_w, "IPAddressWriteSpace")->setText(QString::fromStdString(m_sim.address()));
    child<QPushButton>(*m_w, "IPAddressButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(m_log->contains(QStringLiteral("Camera END")), 5000);
}

void TestFlow::chooseFolder(const QString& folder)
{
    m_op->folder = folder;
    child<QToolButton>(*m_w, "VerUpFileButton")->click();
    QCOMPARE(mw_VupFileInfo.DirPath, folder);
}

void TestFlow::updateRuns_data()
{
    QTest::addColumn<int>("model");
    QTest::newRow("tk300") << int(CAM_MODELID_QV_TK300);
    QTest::newRow("new tk20 h") << int(CAM_MODELID_QV_NEW_TK20_H);
    QTest::newRow("tkd7 s, img and bin") << int(CAM_MODELID_QV_TKD7_S);
    QTest::newRow("tk10") << int(CAM_MODELID_QV_TK10);
}

void TestFlow::updateRuns()
{
    QFETCH(int, model);
    QVERIFY(m_sim.setModel(model));
    connectCamera();
    QCOMPARE(mw_CamInfo.ModelID, model);
    chooseFolder(m_dir.path());
    QVERIFY(m_op->texts().isEmpty());

    // What the camera should receive: the ticked files, lowest upload order first.
    std::vector<SampleFile> files = sampleFirmwareFiles(model);
    std::stable_sort(files.begin(), files.end(), [](const SampleFile& a, const SampleFile& b) { return a.vupno < b.vupno; });
    QVERIFY(files.size() >= 2);
    const QStringList before = shownState(*m_w);
    m_sim.clearLog();
    m_log->clear();

    child<QPushButton>(*m_w, "VersionUp_Button")->click();

    QCOMPARE(m_op->credentialDialogs, 1);
    QCOMPARE(m_op->progressDialogs, 1);
    QCOMPARE(m_op->texts(), QStringList{QStringLiteral("Process has been completed successfully.")});
    QVERIFY(m_log->containsInOrder({"■DEBUG■VerUp Start OK", "QID:OK", "NextFile", "QID:OK", "TimerStop",
                                    "■DEBUG■diapro_initializeAllInfo()"}));
    const std::vector<SimRequest> uploads = m_sim.uploads();
    QCOMPARE(uploads.size(), files.size());
    const std::string authorization = simBasicAuthorization(kUserOnWire, kPassword.toStdString());
    for (size_t i = 0; i < files.size(); ++i) {
        QVERIFY(uploads[i].upload && uploads[i].upload->accepted);
        const std::string sentName = uploads[i].upload->firmwareName;
        QVERIFY2(sentName.size() >= files[i].fileName.size()
                     && sentName.compare(sentName.size() - files[i].fileName.size(), std::string::npos, files[i].fileName) == 0,
                 sentName.c_str());
        const auto header = std::find_if(uploads[i].headers.begin(), uploads[i].headers.end(),
                                         [](const auto& h) { return h.first == "Authorization"; });
        QVERIFY(header != uploads[i].headers.end());
        QCOMPARE(header->second, authorization);
    }

    // Back at the main window, which shows what it showed before Execute.
    QCOMPARE(shownState(*m_w), before);
    QCOMPARE(DiaPro_mode, 0);
    QCOMPARE(diapro_sort_fileinfo.MaxFileNum, 0);
    QVERIFY(diapro_FileInfo.Base64.isEmpty());

    // Connect after the end clears the window; the next one shows what was written.
    child<QPushButton>(*m_w, "IPAddressButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(m_w->mw_ReqCamIndex, 0, 5000);
    m_log->clear();
    connectCamera();
    QCOMPARE(mw_CamInfo.ModelID, model);
    const auto cpu = std::find_if(files.begin(), files.end(), [](const SampleFile& f) { return f.key == "cam_cpu"; });
    QVERIFY(cpu != files.end());
    QCOMPARE(child<QLabel>(*m_w, "IP_CPU_CamMainVer")->text(), QString::fromStdString(cpu->version));
}

void TestFlow::refused_data()
{
    QTest::addColumn<bool>("connect");
    QTest::addColumn<bool>("shortVersions"); // no model identified
    QTest::addColumn<QByteArray>("list");    // written to the folder chosen; none: no folder chosen
    QTest::addColumn<QStringList>("messages");

    const QStringList camFileNone{"MW_OpenPasswordDialog CamFileNone."};
    const QByteArray tk10 = "[TK10]\ncam_cpu=main.bin\n[main.bin]\nversion=V01.20\nvupno=1\n";
    QTest::newRow("before connect") << false << false << QByteArray() << QStringList();
    QTest::newRow("before a folder") << true << false << QByteArray() << camFileNone;
    // The folder is refused, but stays chosen.
    QTest::newRow("no model identified") << true << true << tk10 << QStringList{"File is NOT exist!"} + camFileNone;
    // A camera CPU version meant for another model.
    QTest::newRow("versions do not suit") << true << false << QByteArray(tk10).replace("V01.20", "V02.10")
                                          << camFileNone;
}

void TestFlow::refused()
{
    QFETCH(bool, connect);
    QFETCH(bool, shortVersions);
    QFETCH(QByteArray, list);
    QFETCH(QStringList, messages);

    QVERIFY(m_sim.setModel(CAM_MODELID_QV_TK10));
    SimFaults faults;
    faults.versionShort = shortVersions;
    m_sim.setFaults(faults);
    if (connect)
        connectCamera();
    QTemporaryDir dir;
    if (!list.isEmpty()) {
        QFile file(dir.filePath(QStringLiteral("verup_list.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(list) == list.size());
        file.close();
        chooseFolder(dir.path());
    }
    child<QCheckBox>(*m_w, "VERUP_CUP_CamMain_checkBox")->setChecked(true);
    m_sim.clearLog();

    child<QPushButton>(*m_w, "VersionUp_Button")->click();

    QCOMPARE(m_op->texts(), messages);
    for (const ModalWatcher::Message& m : m_op->messages())
        QCOMPARE(m.parentName + u'|' + m.title, QStringLiteral("MainWindow|"));
    QCOMPARE(m_op->credentialDialogs, 0);
    QVERIFY(m_sim.requests().empty());
    // Nothing is taken over from the boxes by a refused Execute.
    QCOMPARE(mw_VupFileInfo.cam_cpu.Select, RMOCAM_FALSE);
}

QTEST_MAIN(TestFlow)
#include "tst_flow.moc"
