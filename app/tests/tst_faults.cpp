// Every way Connect and an update can fail, provoked through the simulated camera and
// driven through the real windows: the operator sees the right message, the log names the
// end, nothing hangs, nothing is left behind, and the next Connect or Execute works.
#include "app/mainwindow.h"
#include "sim/camerasim.h"
#include "sim/samplefolder.h"
#include "sim/tests/simclient.h"
#include "tests/support/logcapture.h"
#include "tests/support/operator.h"
#include "update/uploadplan.h"
#include "update/runstate.h"

#include <QElapsedTimer>
#include <QNetworkReply>
#include <QPointer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

const QString kUser = QStringLiteral("t\u00e9cnico");
const QString kPassword = QStringLiteral("Pw:9#x!");
const QString kWrongPassword = QStringLiteral("Pw:9#x?");
const QString kDone = QStringLiteral("Process has been completed successfully.");

enum class Fault {
    // Connect
    Refused, EmptyAddress, Http404, ModelAnswerCrLf, WrongVersionPrefix, SlowInquiries, AnswerWhileBoxOpen,
    AnswerAfterEnd, RestartingHttpError, RestartingClosed, RestartingQidAnswer,
    // Execute
    WrongPassword, Http500, NoMarker, DroppedMidUpload, SlowRun, NoUploadReply, NeverBack, WrongNetworkVersion,
    NetworkNeverBack, NothingTicked, FileMissing,
};

bool atConnect(Fault f) { return f < Fault::WrongPassword; }

bool invoke(DialogProgressBar* d, const char* slot) { return QMetaObject::invokeMethod(d, slot, Qt::DirectConnection); }

bool waitFor(const std::function<bool()>& condition, int ms = 5000) { return QTest::qWaitFor(condition, ms); }

// The window as a failed inquiry leaves it: no camera, no folder, nothing ticked.
bool windowCleared(MainWindow& w)
{
    for (QLabel* l : w.findChildren<QLabel*>()) {
        const QString name = l->objectName();
        const bool value = name.endsWith(u"Ver") || (name.startsWith(u"VERUP_") && name.endsWith(u"Name"));
        if (value && l->text() != u"----")
            return false;
    }
    for (QCheckBox* b : w.findChildren<QCheckBox*>()) {
        if (b->isChecked())
            return false;
    }
    return mw_Qid == 0 && w.mw_ReqCamIndex == 0 && mw_CamInfo.ModelID == 0 && mw_VupFileInfo.DirPath.isEmpty()
        && mw_VupFileInfo.CamIPAddress.isEmpty()
        && child<QWidget>(w, "VerUpFileInfoFrame")->palette().color(QPalette::WindowText) == QColor(0x80, 0x80, 0x80);
}

bool runRecordsEmpty()
{
    if (DiaPro_mode != 0 || diapro_sort_fileinfo.MaxFileNum != 0 || diapro_sort_fileinfo.FileNum != 0
        || !diapro_FileInfo.DirPath.isEmpty() || !diapro_FileInfo.Base64.isEmpty()
        || !diapro_FileInfo.CamIPAddress.isEmpty() || diapro_FileInfo.Model != 0 || diapro_currenttime1 != 0.0
        || diapro_currenttime2 != 0.0 || diapro_timeout2 != 0)
        return false;
    for (const Component& c : kComponents) {
        if (!(diapro_FileInfo.*c.field).FileName.isEmpty() || (diapro_FileInfo.*c.field).Select != 0)
            return false;
    }
    for (const file_info& f : diapro_sort_fileinfo.files) {
        if (!f.FileName.isEmpty() || f.Vupno != 0)
            return false;
    }
    return true;
}

// Dialogs and boxes still in existence, by class name.
QStringList windowsLeft()
{
    QStringList left;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!qobject_cast<MainWindow*>(w) && (qobject_cast<QDialog*>(w) || w->isVisible()))
            left << QString::fromLatin1(w->metaObject()->className());
    }
    return left;
}

} // namespace

Q_DECLARE_METATYPE(Fault)

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void matrix_data();
    void matrix();

private:
    void connectCamera();
    void settleInquiries(int ends);
    int inquiryEnds() const;
    void chooseFolderAndTick(const QStringList& components);
    void execute();
    void driveToEnd(DialogProgressBar* d);
    void tickUntilDeadline(DialogProgressBar* d, int extraTicks);
    void applyFault(Fault fault, const QStringList& components);
    void switchFaultOff(Fault fault, const QStringList& components);
    QString sampleFilePath(const char* member) const;
    bool running(DialogProgressBar* d) const { return d && d->isRunInProgress(); }

    std::unique_ptr<CameraSim> m_sim;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<Operator> m_op;
    std::function<void(DialogProgressBar*)> m_drive;  // plays the progress dialog's waits
    std::unique_ptr<MainWindow> m_w;
    std::unique_ptr<QTcpServer> m_closedPort;
    int m_model = 0;
    bool m_hung = false;
};

void TestFaults::init()
{
    m_sim = std::make_unique<CameraSim>();
    QVERIFY(m_sim->start() > 0);
    m_sim->setCredentials(kUser.toLatin1().toStdString(), kPassword.toStdString());
    m_sim->setRestartTime(std::chrono::milliseconds(20));
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(writeSampleFolder(m_dir->path().toStdString()));
    m_log = std::make_unique<LogCapture>();
    m_op = std::make_unique<Operator>();
    m_op->folder = m_dir->path();
    m_op->user = kUser;
    m_op->password = kPassword;
    m_op->onProgress = [this](DialogProgressBar* progress) {
        // No tick comes by itself: the test plays every second of the waits.
        progress->setTickInterval(3600 * 1000);
        for (QTimer* t : progress->findChildren<QTimer*>()) {
            if (t->isActive())
                t->start(3600 * 1000);
        }
        QTimer::singleShot(0, progress, [this, progress] { m_drive(progress); });
    };
    m_drive = [this](DialogProgressBar* d) { driveToEnd(d); };
    m_w = std::make_unique<MainWindow>();
    m_w->show();
    child<QLineEdit>(*m_w, "IPAddressWriteSpace")->setText(QString::fromStdString(m_sim->address()));
    m_hung = false;
}

void TestFaults::cleanup()
{
    // Whatever happened, neither the credential nor its parts reach the log. Checked after
    // the tear-down, so a failure cannot leave this row's capture and camera to the next.
    const QStringList leaked =
        m_log->secretsFound(credentialForms(kUser, kPassword) + credentialForms(kUser, kWrongPassword));
    m_w.reset();
    m_op.reset();
    m_log.reset();
    m_closedPort.reset();
    m_sim.reset();
    m_dir.reset();
    QCOMPARE(leaked, QStringList());
}

int TestFaults::inquiryEnds() const
{
    return m_log->count(QStringLiteral("Camera END")) + m_log->count(QStringLiteral("Camera Err1"))
        + m_log->count(QStringLiteral("Camera Err2"));
}

// Waits until the inquiries have ended `ends` times, every answer is handled and released,
// and no box is open.
void TestFaults::settleInquiries(int ends)
{
    QVERIFY(waitFor([&] {
        return inquiryEnds() >= ends && m_w->findChildren<QNetworkReply*>().isEmpty()
            && !QApplication::activeModalWidget();
    }));
}

void TestFaults::connectCamera()
{
    const int ends = inquiryEnds() + 1;
    child<QPushButton>(*m_w, "IPAddressButton")->click();
    settleInquiries(ends);
}

void TestFaults::chooseFolderAndTick(const QStringList& components)
{
    child<QToolButton>(*m_w, "VerUpFileButton")->click();
    QCOMPARE(mw_VupFileInfo.DirPath, m_dir->path());
    for (const Component& c : kComponents)
        child<QCheckBox>(*m_w, c.checkBox)->setChecked(components.contains(QLatin1String(c.member)));
}

void TestFaults::execute()
{
    // Should anything hang, this ends every modal loop so the test can report it.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, this, [this] {
        m_hung = true;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w))
                box->accept();
            else if (auto* dialog = qobject_cast<QDialog*>(w))
                dialog->done(QDialog::Rejected);
        }
    });
    guard.start(20000);
    child<QPushButton>(*m_w, "VersionUp_Button")->click();
}

// Plays the camera's waits second by second: asks again until the camera is back, and for
// network software of the older models lets the deadline pass so its version is checked.
void TestFaults::driveToEnd(DialogProgressBar* dialog)
{
    QPointer<DialogProgressBar> d(dialog);
    for (int files = 0; running(d) && files < kComponentCount; ++files) {
        const int file = diapro_sort_fileinfo.FileNum;
        if (!waitFor([&] { return !running(d) || DiaPro_mode == 1; }))
            return;
        const QString name = diapro_sort_fileinfo.files[size_t(file)].FileName;
        if (isTkd7Family(diapro_FileInfo.Model) && name.endsWith(QLatin1String("img"))) {
            waitFor([&] { return !m_sim->isRestarting(); }, 2000);
            tickUntilDeadline(d, 2);
        } else {
            for (int tick = 0; running(d) && diapro_sort_fileinfo.FileNum == file && tick < 500; ++tick) {
                invoke(d, "DIAPRO_timeout2");
                waitFor([&] { return !running(d) || DiaPro_mode != 2; });
                QTest::qWait(2);
            }
        }
        waitFor([&] { return !running(d) || diapro_sort_fileinfo.FileNum != file; });
    }
}

// Ticks the reset wait without answers coming in between, until the deadline sends the
// first version inquiry; then `extraTicks` more, each sending one more.
void TestFaults::tickUntilDeadline(DialogProgressBar* dialog, int extraTicks)
{
    QPointer<DialogProgressBar> d(dialog);
    const QString asked = QStringLiteral("■DEBUG■diapro_ReqCam()");
    const int before = m_log->count(asked);
    for (int tick = 0; running(d) && m_log->count(asked) == before && tick <= kLongestResetWait; ++tick)
        invoke(d, "DIAPRO_timeout2");
    for (int tick = 0; running(d) && tick < extraTicks; ++tick)
        invoke(d, "DIAPRO_timeout2");
}

QString TestFaults::sampleFilePath(const char* member) const
{
    for (const Component& c : kComponents) {
        if (qstrcmp(c.member, member) != 0)
            continue;
        for (const SampleFile& f : sampleFirmwareFiles(m_model)) {
            if (f.key == c.key)
                return m_dir->filePath(QString::fromStdString(f.fileName));
        }
    }
    return {};
}

void TestFaults::applyFault(Fault fault, const QStringList& components)
{
    QLineEdit* address = child<QLineEdit>(*m_w, "IPAddressWriteSpace");
    SimFaults f;
    switch (fault) {
    case Fault::Refused:
        m_closedPort = std::make_unique<QTcpServer>();
        QVERIFY(m_closedPort->listen(QHostAddress::LocalHost, 0));
        address->setText(QStringLiteral("127.0.0.1:%1").arg(m_closedPort->serverPort()));
        m_closedPort->close();
        return;
    case Fault::EmptyAddress:
        address->clear();
        return;
    case Fault::Http404:
        address->setText(address->text() + QStringLiteral("/elsewhere"));
        return;
    case Fault::ModelAnswerCrLf:
        f.modelAnswerCrLf = true;
        break;
    case Fault::WrongVersionPrefix:
        f.versionWrongPrefix = true;
        break;
    case Fault::SlowInquiries:
        f.modelDelayMs = 300;
        f.versionDelayMs = 40;
        break;
    case Fault::AnswerWhileBoxOpen:
        // The second model answer fails the first version inquiry's turn; the version
        // answer then arrives behind the box, against a cleared window.
        f.versionDelayMs = 300;
        m_op->holdBox = [this] { return m_log->count(QStringLiteral("Camera Err1")) < 2; };
        break;
    case Fault::AnswerAfterEnd:
        // The last version answer of a TK10 takes its time: Connect is pressed again meanwhile.
        m_sim->setRequestObserver([sim = m_sim.get()](const SimRequest& r) {
            if (r.target.find("QSV3") != std::string::npos) {
                SimFaults slow = sim->faults();
                slow.versionDelayMs = 500;
                sim->setFaults(slow);
            }
        });
        break;
    case Fault::RestartingHttpError:
    case Fault::RestartingClosed:
    case Fault::RestartingQidAnswer: {
        // Someone else's update has the camera restarting.
        m_sim->setBusyMode(fault == Fault::RestartingHttpError ? SimBusyMode::HttpError
                           : fault == Fault::RestartingClosed  ? SimBusyMode::CloseConnection
                                                               : SimBusyMode::QidAnswer);
        f.upload = SimUploadFault::NeverReturn;
        m_sim->setFaults(f);
        QNetworkAccessManager nam;
        const HttpResult r = postFirmware(nam, m_sim->port(), m_model, "x.spt", "firmware",
                                          QByteArray::fromStdString(simBasicAuthorization(
                                              kUser.toLatin1().toStdString(), kPassword.toStdString())));
        QCOMPARE(r.status, 200);
        QVERIFY(m_sim->isRestarting());
        return;
    }
    case Fault::SlowRun:
        f.uploadDelayMs = 300;
        f.modelDelayMs = 100;
        break;
    case Fault::WrongPassword:
        m_op->password = kWrongPassword;
        break;
    case Fault::Http500:
        f.upload = SimUploadFault::ServerError;
        break;
    case Fault::NoMarker:
        f.upload = SimUploadFault::Refuse;
        break;
    case Fault::DroppedMidUpload:
        f.upload = SimUploadFault::DropConnection;
        f.dropAfterBodyBytes = 100;
        break;
    case Fault::NoUploadReply:
        // The answer is still on its way when the run has waited out its 300 seconds.
        f.uploadDelayMs = 1500;
        m_drive = [this](DialogProgressBar* dialog) {
            QPointer<DialogProgressBar> d(dialog);
            if (!waitFor([&] { return !m_sim->uploads().empty(); }))
                return;
            for (int tick = 0; running(d) && tick < 400; ++tick)
                invoke(d, "DIAPRO_timeout1");
        };
        break;
    case Fault::NeverBack:
        f.upload = SimUploadFault::NeverReturn;
        // The deadline passes with a re-inquiry out; its answer arrives behind the box.
        m_drive = [this](DialogProgressBar* dialog) {
            QPointer<DialogProgressBar> d(dialog);
            if (!waitFor([&] { return !running(d) || DiaPro_mode == 1; }))
                return;
            for (int tick = 0; running(d) && tick <= kLongestResetWait; ++tick)
                invoke(d, "DIAPRO_timeout2");
        };
        m_op->holdBox = [this] { return !m_log->contains(QStringLiteral("■DEBUG■DIAPRO_finished ignored")); };
        break;
    case Fault::WrongNetworkVersion: {
        // The camera comes back reporting another network version than the folder's.
        QFile img(sampleFilePath("network_cpu"));
        QVERIFY(img.open(QIODevice::WriteOnly | QIODevice::Truncate));
        img.write(QByteArray::fromStdString(simFirmwareHeader("network_cpu", "V01.99")) + "payload");
        // The other version answers arrive behind the box and are let go.
        m_op->holdBox = [this] {
            return m_log->count(QStringLiteral("■DEBUG■DIAPRO_CAM_finished ignored")) < 2;
        };
        break;
    }
    case Fault::NetworkNeverBack:
        f.upload = SimUploadFault::NeverReturn;
        m_drive = [this](DialogProgressBar* dialog) {
            QPointer<DialogProgressBar> d(dialog);
            if (waitFor([&] { return !running(d) || DiaPro_mode == 1; }))
                tickUntilDeadline(d, 0);
        };
        break;
    case Fault::NothingTicked:
        for (QCheckBox* b : m_w->findChildren<QCheckBox*>())
            b->setChecked(false);
        break;
    case Fault::FileMissing:
        QVERIFY(QFile::rename(sampleFilePath(qPrintable(components.last())),
                              sampleFilePath(qPrintable(components.last())) + QStringLiteral(".away")));
        break;
    }
    m_sim->setFaults(f);
}

void TestFaults::switchFaultOff(Fault fault, const QStringList& components)
{
    m_sim->setRequestObserver({});
    m_sim->setFaults({});
    m_sim->finishRestartNow();
    m_sim->setBusyMode(SimBusyMode::HttpError);
    m_op->password = kPassword;
    m_op->holdBox = {};
    m_drive = [this](DialogProgressBar* d) { driveToEnd(d); };
    child<QLineEdit>(*m_w, "IPAddressWriteSpace")->setText(QString::fromStdString(m_sim->address()));
    if (fault == Fault::WrongNetworkVersion) {
        QFile img(sampleFilePath("network_cpu"));
        QVERIFY(img.open(QIODevice::WriteOnly | QIODevice::Truncate));
        img.write(QByteArray::fromStdString(simFirmwareHeader("network_cpu", "V01.35")) + "payload");
    } else if (fault == Fault::FileMissing) {
        const QString path = sampleFilePath(qPrintable(components.last()));
        QVERIFY(QFile::rename(path + QStringLiteral(".away"), path));
    } else if (fault == Fault::NothingTicked) {
        chooseFolderAndTick(components);
    }
}

void TestFaults::matrix_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("model");
    QTest::addColumn<QStringList>("components"); // ticked for the update
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("lines");      // naming the end, in order
    QTest::addColumn<int>("received");           // by the camera: inquiries at Connect, uploads at Execute
    QTest::addColumn<bool>("identified");        // Connect: the camera is identified in the end

    const QStringList one{"servo_cpu"};
    const QStringList two{"servo_cpu", "cam_eeprom"};
    const QStringList net{"network_cpu"};
    const QStringList cameraErr{"Camera Err"};
    const QStringList none;
    // The error code the client reports follows the handler's first line; then the clearing.
    const auto inquiryError = [](int code) {
        return QStringList{
            QStringLiteral("■DEBUG■MW_CAM_finished()\n%1\nCamera Err2\n■DEBUG■mw_initializeAllCrear()").arg(code)};
    };
    const QStringList answerErr{"■DEBUG■MW_CAM_finished()\n0", "■DEBUG■mw_initializeAllCrear()", "Camera Err1"};
    const QStringList verUpErr{"VerUp Err"};
    const QString uploadAnswer = QStringLiteral("■DEBUG■DIAPRO_finished()\nDiaPro_mode\n0");
    const int tk300 = CAM_MODELID_QV_TK300;

    // The inquiry handler's failure rows; error codes as the network client numbers them.
    QTest::newRow("connect: refused") << Fault::Refused << tk300 << one << none << inquiryError(1) << 0 << false;
    QTest::newRow("connect: empty address") << Fault::EmptyAddress << tk300 << one << none << inquiryError(3) << 0
                                            << false;
    QTest::newRow("connect: 404") << Fault::Http404 << tk300 << one << none << inquiryError(203) << 1 << false;
    QTest::newRow("connect: model answer with CR LF") << Fault::ModelAnswerCrLf << tk300 << one << cameraErr
                                                      << answerErr << 1 << false;
    QTest::newRow("connect: wrong version prefix") << Fault::WrongVersionPrefix << int(CAM_MODELID_QV_NEW_TK15_H)
                                                   << one << cameraErr << answerErr << 2 << false;
    QTest::newRow("connect: slow answers") << Fault::SlowInquiries << tk300 << one << none
                                           << QStringList{"■DEBUG■NOTERR\nCamera END"} << 10 << true;
    QTest::newRow("connect twice: answer behind the box")
        << Fault::AnswerWhileBoxOpen << tk300 << one << QStringList{"Camera Err", "Camera Err"}
        << QStringList{"■DEBUG■MW_CAM_MODEL_QID_QV_TK300()", "Camera Err1",
                       "■DEBUG■MW_CAM_finished()\n0\n■DEBUG■mw_initializeAllCrear()", "Camera Err1"}
        << 3 << false;
    // A 200 answer when nothing is due, as to the bare request Connect sends after the end.
    QTest::newRow("connect again: answer after the end")
        << Fault::AnswerAfterEnd << int(CAM_MODELID_QV_TK10) << one << cameraErr
        << QStringList{"Camera END", "■DEBUG■MW_CAM_finished()\n0\n■DEBUG■mw_initializeAllCrear()", "Camera Err1"} << 7
        << false;
    QTest::newRow("connect: camera restarting, 503") << Fault::RestartingHttpError << tk300 << one << none
                                                     << inquiryError(403) << 1 << false;
    // The client asks once more when a connection closes without an answer.
    QTest::newRow("connect: camera restarting, closes") << Fault::RestartingClosed << tk300 << one << none
                                                        << inquiryError(2) << 2 << false;
    // Any model answer but the three known ones.
    QTest::newRow("connect: camera restarting, QID answer") << Fault::RestartingQidAnswer << tk300 << one
                                                            << cameraErr << answerErr << 1 << false;

    // Every end of an update run but success, which ends every row below once the fault is gone.
    QTest::newRow("execute: wrong password, 401") << Fault::WrongPassword << tk300 << two << verUpErr
                                                  << QStringList{uploadAnswer, "■DEBUG■VerUp Start NG2"} << 1 << true;
    QTest::newRow("execute: 500") << Fault::Http500 << tk300 << one << verUpErr
                                  << QStringList{uploadAnswer, "■DEBUG■VerUp Start NG2"} << 1 << true;
    QTest::newRow("execute: no marker") << Fault::NoMarker << int(CAM_MODELID_QV_TKD7_S) << one << verUpErr
                                        << QStringList{uploadAnswer, "■DEBUG■VerUp Start NG"} << 1 << true;
    // Sent once: a dropped upload is reported, never repeated behind the operator's back.
    QTest::newRow("execute: dropped mid-upload") << Fault::DroppedMidUpload << tk300 << two << verUpErr
                                                 << QStringList{uploadAnswer, "■DEBUG■VerUp Start NG2"} << 1 << true;
    QTest::newRow("execute: slow answers") << Fault::SlowRun << tk300 << two << QStringList{kDone}
                                           << QStringList{"NextFile", "QID:OK", "TimerStop"} << 2 << true;
    QTest::newRow("execute: no upload reply") << Fault::NoUploadReply << tk300 << one << QStringList{"UpdateNG"}
                                              << QStringList{"■DEBUG■Timeout1 NG", "UpdateNG4"} << 1 << true;
    QTest::newRow("execute: never back")
        << Fault::NeverBack << tk300 << two << QStringList{"UpdateNG"}
        << QStringList{"■DEBUG■DIAPRO_timeout2_OK()", "■DEBUG■Timeout2 NG",
                       "■DEBUG■DIAPRO_finished()\nDiaPro_mode\n2\n■DEBUG■DIAPRO_finished ignored"}
        << 1 << true;
    QTest::newRow("execute: wrong network version")
        << Fault::WrongNetworkVersion << int(CAM_MODELID_QV_TK10) << net << QStringList{"Update Err"}
        << QStringList{"■DEBUG■DIAPRO_CAM_finished()\n0\n■DEBUG■DIAPRO_CAM_finished NG\nTimerStop",
                       "■DEBUG■DIAPRO_CAM_finished ignored", "■DEBUG■DIAPRO_CAM_finished ignored"}
        << 1 << true;
    QTest::newRow("execute: network software, never back")
        << Fault::NetworkNeverBack << int(CAM_MODELID_QV_TKD7_S) << net << QStringList{"Update Err"}
        << QStringList{"■DEBUG■DIAPRO_CAM_finished()\n403\n■DEBUG■DIAPRO_CAM_finished NG\nTimerStop"} << 1 << true;
    QTest::newRow("execute: nothing ticked") << Fault::NothingTicked << tk300 << one << QStringList{"Start Err"}
                                             << QStringList{"■DEBUG■VerUpFileNG\n■DEBUG■DIAPRO_StartVerUpNG"} << 0
                                             << true;
    QTest::newRow("execute: second file missing") << Fault::FileMissing << tk300 << two << QStringList{"UpdateNG"}
                                                  << QStringList{"NextFile", "UpdateNG1"} << 1 << true;
}

void TestFaults::matrix()
{
    QFETCH(Fault, fault);
    QFETCH(int, model);
    QFETCH(QStringList, components);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, lines);
    QFETCH(int, received);
    QFETCH(bool, identified);

    QElapsedTimer clock;
    clock.start();
    m_model = model;
    QVERIFY(m_sim->setModel(model));
    if (!atConnect(fault)) {
        connectCamera();
        QCOMPARE(mw_CamInfo.ModelID, model);
        chooseFolderAndTick(components);
    }
    applyFault(fault, components);
    const QStringList before = shownState(*m_w);
    m_sim->clearLog();
    m_log->clear();

    QPushButton* connectButton = child<QPushButton>(*m_w, "IPAddressButton");
    switch (fault) {
    case Fault::AnswerWhileBoxOpen:
        connectButton->click();
        connectButton->click();
        settleInquiries(2);
        break;
    case Fault::AnswerAfterEnd:
        connectButton->click();
        QVERIFY(waitFor([&] { return m_w->mw_ReqCamIndex == 5; }));
        connectButton->click();
        settleInquiries(2);
        break;
    default:
        if (atConnect(fault))
            connectCamera();
        else
            execute();
    }

    QVERIFY(!m_hung);
    QVERIFY(!m_op->heldTooLong);
    QCOMPARE(m_op->texts(), messages);
    QVERIFY2(m_log->containsInOrder(lines), qPrintable(m_log->lines().mid(m_log->lines().size() - 60).join(u'\n')));
    QCOMPARE(windowsLeft(), QStringList());
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(runRecordsEmpty());
    if (atConnect(fault)) {
        QCOMPARE(int(m_sim->requests().size()), received);
        QCOMPARE(windowCleared(*m_w), !identified);
        QCOMPARE(mw_CamInfo.ModelID, identified ? model : 0);
        QCOMPARE(m_op->credentialDialogs, 0);
        for (const ModalWatcher::Message& m : m_op->messages())
            QCOMPARE(m.parentName + u'|' + m.title, QStringLiteral("MainWindow|"));
    } else {
        QCOMPARE(int(m_sim->uploads().size()), received);
        // Back at the window as it was; no tick of the run came while a box was open.
        QCOMPARE(shownState(*m_w), before);
        QCOMPARE(m_op->credentialDialogs, 1);
        QCOMPARE(m_op->progressDialogs, received > 0 ? 1 : 0);
        for (const ModalWatcher::Message& m : m_op->messages()) {
            QCOMPARE(m.parentName, QStringLiteral("DialogProgressBar"));
            QVERIFY(!m.parentTimersActive);
        }
    }

    // The fault gone, the next Connect (and what follows it) or Execute works.
    if (fault == Fault::NoUploadReply) {
        // Let the late answer reach a tool that has let the upload go.
        QVERIFY(waitFor([&] { return !m_sim->uploads().empty() && m_sim->uploads().front().status >= 0; }));
    }
    switchFaultOff(fault, components);
    if (atConnect(fault)) {
        // A camera identified in the end is not asked again: Connect would start afresh.
        if (!identified) {
            m_sim->clearLog();
            connectCamera();
            QCOMPARE(QString::fromStdString(m_sim->requests().front().target),
                     QStringLiteral("/cgi-bin/qv_cam?cmd=QID&res=1"));
        }
        QCOMPARE(mw_CamInfo.ModelID, model);
        chooseFolderAndTick(components);
    }
    const QStringList ready = shownState(*m_w);
    m_op->clear();
    m_sim->clearLog();
    execute();
    QVERIFY(!m_hung);
    QCOMPARE(m_op->texts(), QStringList{kDone});
    QCOMPARE(m_sim->uploads().size(), size_t(components.size()));
    for (const SimRequest& r : m_sim->uploads())
        QVERIFY(r.upload && r.upload->accepted);
    QCOMPARE(shownState(*m_w), ready);
    QVERIFY(runRecordsEmpty());
    QCOMPARE(windowsLeft(), QStringList());
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
