// The whole tool from Connect to a finished update, driven through the real windows
// against the simulated camera, as an operator would use it.
#include "app/mainwindow.h"
#include "launch/dialogpassword.h"
#include "sim/camerasim.h"
#include "sim/samplefolder.h"
#include "tests/support/logcapture.h"
#include "tests/support/modalwatcher.h"
#include "update/dialogprogressbar.h"
#include "update/runstate.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <algorithm>

namespace {

const char kUser[] = "operat\u00f6r";
const char kPassword[] = "s3cr:t";
// What the camera compares: the user ID's bytes as the tool sends them, in Latin-1.
const std::string kUserOnWire = QString::fromUtf8(kUser).toLatin1().toStdString();

QString labelText(MainWindow& w, const char* name)
{
    return w.findChild<QLabel*>(QLatin1String(name))->text();
}

// Everything the main window shows, to compare before and after an update.
QStringList shownState(MainWindow& w)
{
    QStringList state;
    for (QLabel* l : w.findChildren<QLabel*>())
        state << l->objectName() + QLatin1Char('=') + l->text();
    for (QCheckBox* b : w.findChildren<QCheckBox*>())
        state << b->objectName() + QLatin1Char('=') + QString::number(b->isChecked());
    for (QLineEdit* e : w.findChildren<QLineEdit*>())
        state << e->objectName() + QLatin1Char('=') + e->text();
    return state;
}

// Plays the operator: picks `folder` in the chooser, types the credentials, leaves the
// progress dialog alone; message boxes are recorded and closed with OK.
class Operator : public ModalWatcher
{
public:
    QString folder;
    QString user = QString::fromUtf8(kUser);
    QString password = QString::fromLatin1(kPassword);
    int credentialDialogs = 0;
    bool progressShown = false;

    Operator()
    {
        onDialog = [this](QWidget* modal) -> bool {
            if (auto* chooser = qobject_cast<QFileDialog*>(modal)) {
                chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(folder);
                static_cast<QDialog*>(chooser)->accept();
            } else if (auto* credentials = qobject_cast<DialogPassword*>(modal)) {
                if (credentials->property("typed").toBool())
                    return true;
                credentials->setProperty("typed", true);
                ++credentialDialogs;
                credentials->findChild<QLineEdit*>(QStringLiteral("Dia_Pass_UserIDEdit"))->setText(user);
                credentials->findChild<QLineEdit*>(QStringLiteral("Dia_Pass_PassEdit"))->setText(password);
                QTimer::singleShot(0, credentials->findChild<QPushButton*>(QStringLiteral("Dia_Pass_PushButtonOK")),
                                   &QPushButton::click);
            } else if (auto* progress = qobject_cast<DialogProgressBar*>(modal)) {
                // The reset wait's one-second ticks, shortened so the test does not wait
                // for the camera's write-and-restart time.
                progress->setResetWaitTickInterval(1);
                progressShown = true;
            }
            return true;
        };
    }
};

} // namespace

class TestFlow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void updateRuns_data();
    void updateRuns();
    void nothingTickedEndsInStartErr();
    void foldersVersionsDoNotSuit();

private:
    void connectCamera(MainWindow& w);
    void chooseFolder(MainWindow& w, Operator& op, const QString& folder);

    CameraSim m_sim;
    QTemporaryDir m_dir;
};

void TestFlow::init()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(writeSampleFolder(m_dir.path().toStdString()));
    m_sim.setCredentials(kUserOnWire, kPassword);
    m_sim.setRestartTime(std::chrono::milliseconds(50));
    QVERIFY(m_sim.start() > 0);
}

void TestFlow::cleanup()
{
    m_sim.stop();
    m_sim.setFaults({});
    m_sim.clearLog();
}

void TestFlow::connectCamera(MainWindow& w)
{
    w.findChild<QLineEdit*>(QStringLiteral("IPAddressWriteSpace"))->setText(QString::fromStdString(m_sim.address()));
    w.findChild<QPushButton*>(QStringLiteral("IPAddressButton"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(w.mw_ReqCamIndex, 11, 5000);
}

void TestFlow::chooseFolder(MainWindow& w, Operator& op, const QString& folder)
{
    op.folder = folder;
    w.findChild<QToolButton*>(QStringLiteral("VerUpFileButton"))->click();
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
    Operator op;
    LogCapture log;
    MainWindow w;
    w.show();

    connectCamera(w);
    QCOMPARE(mw_CamInfo.ModelID, model);
    chooseFolder(w, op, m_dir.path());
    QVERIFY(op.texts().isEmpty());

    // What the camera should receive: the ticked files, lowest upload order first.
    std::vector<SampleFile> files = sampleFirmwareFiles(model);
    std::stable_sort(files.begin(), files.end(), [](const SampleFile& a, const SampleFile& b) { return a.vupno < b.vupno; });
    QVERIFY(files.size() >= 2);
    const QStringList before = shownState(w);
    m_sim.clearLog();

    w.findChild<QPushButton*>(QStringLiteral("VersionUp_Button"))->click();

    QCOMPARE(op.credentialDialogs, 1);
    QVERIFY(op.progressShown);
    QCOMPARE(op.texts(), QStringList{QStringLiteral("Process has been completed successfully.")});

    const std::vector<SimRequest> uploads = m_sim.uploads();
    QCOMPARE(uploads.size(), files.size());
    const std::string authorization = simBasicAuthorization(kUserOnWire, kPassword);
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
    QCOMPARE(shownState(w), before);
    QCOMPARE(DiaPro_mode, 0);
    QCOMPARE(diapro_sort_fileinfo.MaxFileNum, 0);
    QVERIFY(diapro_FileInfo.Base64.isEmpty());
    // The credential never reaches the log, in clear or encoded.
    QCOMPARE(log.secretsFound(credentialForms(QString::fromUtf8(kUser), QString::fromLatin1(kPassword))), QStringList());

    // Connect after the end clears the window; the next one shows what was written.
    w.findChild<QPushButton*>(QStringLiteral("IPAddressButton"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(w.mw_ReqCamIndex, 0, 5000);
    connectCamera(w);
    QCOMPARE(mw_CamInfo.ModelID, model);
    const SampleFile* cpu = nullptr;
    for (const SampleFile& f : files)
        cpu = f.key == "cam_cpu" ? &f : cpu;
    QVERIFY(cpu);
    QCOMPARE(labelText(w, "IP_CPU_CamMainVer"), QString::fromStdString(cpu->version));
}

void TestFlow::nothingTickedEndsInStartErr()
{
    QVERIFY(m_sim.setModel(CAM_MODELID_QV_TK300));
    Operator op;
    LogCapture log;
    MainWindow w;
    w.show();
    connectCamera(w);
    chooseFolder(w, op, m_dir.path());
    for (QCheckBox* b : w.findChildren<QCheckBox*>())
        b->setChecked(false);
    const QStringList before = shownState(w);
    m_sim.clearLog();

    w.findChild<QPushButton*>(QStringLiteral("VersionUp_Button"))->click();

    QCOMPARE(op.credentialDialogs, 1);
    QVERIFY(!op.progressShown);
    QCOMPARE(op.texts(), QStringList{QStringLiteral("Start Err")});
    QVERIFY(m_sim.uploads().empty());
    QCOMPARE(shownState(w), before);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QCOMPARE(log.secretsFound(credentialForms(op.user, op.password)), QStringList());
}

void TestFlow::foldersVersionsDoNotSuit()
{
    // A TK10 camera whose folder section names a camera CPU version for another model.
    QVERIFY(m_sim.setModel(CAM_MODELID_QV_TK10));
    QTemporaryDir dir;
    QFile list(dir.filePath(QStringLiteral("verup_list.ini")));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("[TK10]\ncam_cpu=main.bin\n[main.bin]\nversion=V02.10\nvupno=1\n");
    list.close();
    Operator op;
    MainWindow w;
    w.show();
    connectCamera(w);
    chooseFolder(w, op, dir.path());
    QVERIFY(op.texts().isEmpty());

    w.findChild<QPushButton*>(QStringLiteral("VersionUp_Button"))->click();

    QCOMPARE(op.texts(), QStringList{QStringLiteral("MW_OpenPasswordDialog CamFileNone.")});
    QCOMPARE(op.credentialDialogs, 0);
    QVERIFY(m_sim.uploads().empty());
}

QTEST_MAIN(TestFlow)
#include "tst_flow.moc"
