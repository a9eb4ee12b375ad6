// The whole tool driven through the real windows against the simulated camera: every way
// Connect and an update can fail (the operator sees the right message, the log names the
// end, nothing hangs, nothing is left behind, and the next Connect or Execute works), the
// whole update for each family, and Execute refused before anything is sent.
#include "app/mainwindow.h"
#include "firmware/sha256sums.h"
#include "sim/camerasim.h"
#include "sim/samplefolder.h"
#include "sim/tests/simclient.h"
#include "tests/support/logcapture.h"
#include "tests/support/operator.h"
#include "tests/support/runrecords.h"
#include "update/runstate.h"
#include "update/updatelock.h"
#include "update/uploadplan.h"

#include <QNetworkReply>
#include <QTcpServer>
#include <QToolButton>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

const QString kUser = QStringLiteral("t\u00e9cnico");
const QString kPassword = QStringLiteral("Pw:9#x!");
const QString kWrongPassword = QStringLiteral("Pw:9#x?");
const QString kDone = QStringLiteral("Process has been completed successfully.");
const QString kStopQuestion =
    QStringLiteral("The camera has the firmware file and may still be writing it. Stop watching this update?");
const QString kStopped = QStringLiteral("Update stopped: the camera may still be writing the firmware.");
const QString kCameraHeld = QStringLiteral("This camera is being updated by another Kelvora process.");

enum class Fault {
    // Connect
    Refused, EmptyAddress, Http404, ModelAnswerCrLf, WrongVersionPrefix, SlowInquiries, AnswerWhileBoxOpen,
    AnswerAfterEnd, RestartingHttpError, RestartingClosed, RestartingQidAnswer, Silent, SilentSevenTimes,
    SilentVersion,
    // Execute; None: the whole update without a fault
    None, WrongPassword, Http500, NoMarker, DroppedMidUpload, SlowRun, NoUploadReply, NeverBack, WrongNetworkVersion,
    NetworkNeverBack, NothingTicked, FileMissing, Vanished, RouteGone, AnswerEarly, BodyStillGoing, SilentUpload,
    SilentReinquiry, SilentNetworkVersion, StopWatching, SumsDiffer, SumsNotListed, CameraHeld,
};

bool atConnect(Fault f) { return f < Fault::None; }
bool sealed(Fault f) { return f == Fault::SumsDiffer || f == Fault::SumsNotListed; }
// Refused by the progress dialog's start, which is never shown then.
bool refusedAtStart(Fault f) { return f == Fault::NothingTicked || f == Fault::CameraHeld || sealed(f); }
bool invoke(DialogProgressBar* d, const char* slot) { return QMetaObject::invokeMethod(d, slot, Qt::DirectConnection); }
bool waitFor(const std::function<bool()>& condition, int ms = 5000) { return QTest::qWaitFor(condition, ms); }
bool running(DialogProgressBar* d) { return d && d->isRunInProgress(); }

// The window as a failed inquiry leaves it: no camera, no folder, nothing ticked.
bool windowCleared(MainWindow& w)
{
    return notCleared(w).isEmpty() && firmwareAreaIs(w, QColor(0x80, 0x80, 0x80)) && mw_Qid == 0
        && w.mw_ReqCamIndex == 0 && mw_CamInfo.ModelID == 0 && mw_VupFileInfo.DirPath.isEmpty()
        && mw_VupFileInfo.CamIPAddress.isEmpty();
}

// Dialogs and boxes still in existence, by class name.
QStringList windowsLeft()
{
    QStringList left;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (!qobject_cast<MainWindow*>(w) && (qobject_cast<QDialog*>(w) || w->isVisible()))
            left << QString::fromLatin1(w->metaObject()->className());
    return left;
}

} // namespace

Q_DECLARE_METATYPE(Fault)

class TestFaults : public QObject
{
    Q_OBJECT

    std::unique_ptr<CameraSim> m_sim;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<Operator> m_op;
    std::function<void(DialogProgressBar*)> m_drive;  // plays the progress dialog's waits; none: driveToEnd
    std::unique_ptr<MainWindow> m_w;
    int m_model = 0;
    int m_simPort = 0;
    bool m_hung = false;
    // The camera locks of every run here, never the user's own.
    QTemporaryDir m_runtime;
    // The lock another Kelvora process holds on the camera (Fault::CameraHeld).
    UpdateLock m_otherProcess;

    int inquiryEnds() const { return m_log->count("Camera END") + m_log->count("Camera Err1") + m_log->count("Camera Err2"); }

    // Waits until the inquiries have ended `ends` times, every answer is handled and
    // released, and no box is open.
    void settleInquiries(int ends)
    {
        // Long enough for an inquiry that is never answered to reach its bound.
        QVERIFY(waitFor([&] {
            return inquiryEnds() >= ends && m_w->findChildren<QNetworkReply*>().isEmpty() && !QApplication::activeModalWidget();
        }, 15000));
    }
    void connectCamera()
    {
        const int ends = inquiryEnds() + 1;
        child<QPushButton>(*m_w, "IPAddressButton")->click();
        settleInquiries(ends);
    }

    void chooseFolderAndTick(const QStringList& components)
    {
        child<QToolButton>(*m_w, "VerUpFileButton")->click();
        QCOMPARE(mw_VupFileInfo.DirPath, m_op->folder);
        for (const Component& c : kComponents)
            child<QCheckBox>(*m_w, c.checkBox)->setChecked(components.contains(QLatin1String(c.member)));
    }

    void execute()
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

    // Plays the camera's waits second by second: asks again until the camera is back, and
    // for network software of the older models lets the deadline pass so its version is checked.
    void driveToEnd(DialogProgressBar* dialog)
    {
        QPointer<DialogProgressBar> d(dialog);
        for (int files = 0; running(d) && files < kComponentCount; ++files) {
            const int file = diapro_sort_fileinfo.FileNum;
            if (!waitFor([&] { return !running(d) || DiaPro_mode == 1; }))
                return;
            if (isTkd7Family(diapro_FileInfo.Model) && diapro_sort_fileinfo.files[size_t(file)].FileName.endsWith(u"img")) {
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
    void tickUntilDeadline(DialogProgressBar* d, int extraTicks)
    {
        const QString asked = QStringLiteral("■DEBUG■diapro_ReqCam()");
        const int before = m_log->count(asked);
        for (int tick = 0; running(d) && m_log->count(asked) == before && tick <= kLongestResetWait; ++tick)
            invoke(d, "DIAPRO_timeout2");
        for (int tick = 0; running(d) && tick < extraTicks; ++tick)
            invoke(d, "DIAPRO_timeout2");
    }

    // The sample files of the ticked components, in the order they are sent.
    std::vector<SampleFile> planned(const QStringList& components) const
    {
        std::vector<SampleFile> files;
        for (const SampleFile& f : sampleFirmwareFiles(m_model))
            for (const Component& c : kComponents)
                if (f.key == c.key && components.contains(QLatin1String(c.member)))
                    files.push_back(f);
        std::stable_sort(files.begin(), files.end(), [](const SampleFile& a, const SampleFile& b) { return a.vupno < b.vupno; });
        return files;
    }
    QString sampleFilePath(const char* member) const
    {
        const std::vector<SampleFile> files = planned({QLatin1String(member)});
        return files.empty() ? QString() : m_dir->filePath(QString::fromStdString(files.front().fileName));
    }

    // The sample file of a component, made `megabytes` long: more than the connection's
    // buffers hold, so the body is still going out when the camera or the run gives up.
    void enlargeSampleFile(const char* member, int megabytes)
    {
        const std::vector<SampleFile> files = planned({QLatin1String(member)});
        QVERIFY(!files.empty());
        QFile file(sampleFilePath(member));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray::fromStdString(simFirmwareHeader(files.front().key, files.front().version)));
        QVERIFY(file.write(QByteArray(megabytes * 1024 * 1024, 'f')) == megabytes * 1024 * 1024);
    }

    void applyFault(Fault fault, const QStringList& components)
    {
        QLineEdit* address = child<QLineEdit>(*m_w, "IPAddressWriteSpace");
        SimFaults f;
        switch (fault) {
        case Fault::Refused: {  // a loopback port that was just free
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
            address->setText(QStringLiteral("127.0.0.1:%1").arg(closed.serverPort()));
            return;
        }
        case Fault::EmptyAddress: address->clear(); return;
        case Fault::Http404: address->setText(address->text() + QStringLiteral("/elsewhere")); return;
        case Fault::ModelAnswerCrLf: f.modelAnswerCrLf = true; break;
        case Fault::WrongVersionPrefix: f.versionWrongPrefix = true; break;
        case Fault::SlowInquiries: f.modelDelayMs = 300; f.versionDelayMs = 40; break;
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
            QVERIFY(r.status == 200 && m_sim->isRestarting());
            return;
        }
        case Fault::Silent:
        case Fault::SilentSevenTimes: f.silentModel = true; break;
        case Fault::SilentVersion: f.silentVersion = true; break;
        case Fault::None: break;
        case Fault::Vanished: m_sim->stop(); return;
        case Fault::RouteGone:
            // The camera's address is no longer routed: the system refuses the connection in
            // the very call that asks for it. The broadcast address is refused that way, and
            // nothing is sent.
            mw_VupFileInfo.CamIPAddress = QStringLiteral("255.255.255.255");
            return;
        case Fault::AnswerEarly:
            enlargeSampleFile(qPrintable(components.first()), 32);
            f.upload = SimUploadFault::AnswerEarly;
            break;
        case Fault::BodyStillGoing: {
            // The camera takes the body slowly, the connection's buffers are full, and the run's
            // upload waits run out meanwhile. The end's box stays open a while: whatever the
            // tool still lets through would reach the camera then.
            enlargeSampleFile(qPrintable(components.first()), 32);
            f.uploadReadBytesPerSecond = 512 * 1024;
            m_drive = [this](DialogProgressBar* dialog) {
                QPointer<DialogProgressBar> d(dialog);
                const quint64 before = m_sim->bytesReceived();
                if (waitFor([&] { return m_sim->bytesReceived() > before + 1024 * 1024; }))
                    for (int tick = 0; running(d) && tick < 400; ++tick)
                        invoke(d, "DIAPRO_timeout1");
            };
            auto opened = std::make_shared<QElapsedTimer>();
            m_op->holdBox = [opened] {
                if (!opened->isValid())
                    opened->start();
                return opened->elapsed() < 1500;
            };
            break;
        }
        case Fault::SilentUpload:
            f.silentUpload = true;
            m_drive = [this](DialogProgressBar* dialog) {
                QPointer<DialogProgressBar> d(dialog);
                if (waitFor([&] { return m_sim->heldRequests() == 1; }))
                    for (int tick = 0; running(d) && tick < 400; ++tick)
                        invoke(d, "DIAPRO_timeout1");
            };
            break;
        case Fault::SilentReinquiry:
            // The camera holds the first re-inquiry unanswered and is back meanwhile: the
            // run must give that inquiry up and ask again, not wait for it to the deadline.
            f.upload = SimUploadFault::NeverReturn;
            m_sim->setBusyMode(SimBusyMode::Silent);
            m_drive = [this](DialogProgressBar* dialog) {
                QPointer<DialogProgressBar> d(dialog);
                if (!waitFor([&] { return !running(d) || DiaPro_mode == 1; }))
                    return;
                invoke(d, "DIAPRO_timeout2");
                if (!waitFor([&] { return m_sim->heldRequests() == 1; }))
                    return;
                m_sim->finishRestartNow();
                waitFor([&] { return !running(d) || DiaPro_mode != 2; }, 12000);
                driveToEnd(d);
            };
            break;
        case Fault::SilentNetworkVersion:
            f.silentVersion = true;
            m_drive = [this](DialogProgressBar* dialog) {
                QPointer<DialogProgressBar> d(dialog);
                if (waitFor([&] { return !running(d) || DiaPro_mode == 1; })) {
                    tickUntilDeadline(d, 0);
                    waitFor([&] { return !running(d); }, 12000);
                }
            };
            break;
        case Fault::StopWatching:
            f.upload = SimUploadFault::NeverReturn;
            m_op->answerWith = QMessageBox::Yes;
            m_drive = [this](DialogProgressBar* dialog) {
                QPointer<DialogProgressBar> d(dialog);
                if (waitFor([&] { return !running(d) || DiaPro_mode == 1; }) && d)
                    QTest::keyClick(d, Qt::Key_Escape);
            };
            break;
        case Fault::SlowRun: f.uploadDelayMs = 300; f.modelDelayMs = 100; break;
        case Fault::WrongPassword: m_op->password = kWrongPassword; break;
        case Fault::Http500: f.upload = SimUploadFault::ServerError; break;
        case Fault::NoMarker: f.upload = SimUploadFault::Refuse; break;
        case Fault::DroppedMidUpload: f.upload = SimUploadFault::DropConnection; f.dropAfterBodyBytes = 100; break;
        case Fault::NoUploadReply:
            // The answer is still on its way when the run has waited out its 300 seconds.
            f.uploadDelayMs = 1500;
            m_drive = [this](DialogProgressBar* dialog) {
                QPointer<DialogProgressBar> d(dialog);
                if (waitFor([&] { return !m_sim->uploads().empty(); }))
                    for (int tick = 0; running(d) && tick < 400; ++tick)
                        invoke(d, "DIAPRO_timeout1");
            };
            break;
        case Fault::NeverBack:
            f.upload = SimUploadFault::NeverReturn;
            // The deadline passes with a re-inquiry out; its answer arrives behind the box.
            m_drive = [this](DialogProgressBar* dialog) {
                QPointer<DialogProgressBar> d(dialog);
                if (waitFor([&] { return !running(d) || DiaPro_mode == 1; }))
                    for (int tick = 0; running(d) && tick <= kLongestResetWait; ++tick)
                        invoke(d, "DIAPRO_timeout2");
            };
            m_op->holdBox = [this] { return !m_log->contains(QStringLiteral("■DEBUG■DIAPRO_finished ignored")); };
            break;
        case Fault::WrongNetworkVersion: {
            // The camera comes back reporting another network version than the folder's; the
            // other version answers arrive behind the box and are let go.
            QFile img(sampleFilePath("network_cpu"));
            QVERIFY(img.open(QIODevice::WriteOnly | QIODevice::Truncate));
            img.write(QByteArray::fromStdString(simFirmwareHeader("network_cpu", "V01.99")) + "payload");
            m_op->holdBox = [this] { return m_log->count(QStringLiteral("■DEBUG■DIAPRO_CAM_finished ignored")) < 2; };
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
        case Fault::SumsDiffer:
        case Fault::SumsNotListed: {
            // Sealed but for the last file to be sent: not even the first is sent.
            const QStringList names = sealFolder(components);
            QVERIFY(writeFolderSums(m_dir->path(), names.mid(0, names.size() - 1)));
            QFile sums(sumsFilePath(m_dir->path()));
            QVERIFY(fault == Fault::SumsNotListed
                    || (sums.open(QIODevice::Append) && sums.write(sumsLine(QByteArray(32, '\0'), names.last())) > 0));
            break;
        }
        case Fault::CameraHeld:
            m_otherProcess = UpdateLock::camera(updateLockFolder(QProcessEnvironment::systemEnvironment()),
                                                QString::fromStdString(m_sim->address()));
            QVERIFY(m_otherProcess.held());
            break;
        case Fault::FileMissing:
            QVERIFY(QFile::rename(sampleFilePath(qPrintable(components.last())),
                                  sampleFilePath(qPrintable(components.last())) + QStringLiteral(".away")));
            break;
        }
        m_sim->setFaults(f);
    }

    // SHA256SUMS for the ticked components' files; their names, in the order they are sent.
    QStringList sealFolder(const QStringList& components)
    {
        QStringList names;
        for (const SampleFile& f : planned(components))
            names << QString::fromStdString(f.fileName);
        return writeFolderSums(m_dir->path(), names) ? names : QStringList();
    }

    void switchFaultOff(Fault fault, const QStringList& components)
    {
        m_sim->setRequestObserver({});
        m_sim->setFaults({});
        m_sim->finishRestartNow();
        m_sim->setBusyMode(SimBusyMode::HttpError);
        m_op->password = kPassword;
        m_op->holdBox = {};
        m_op->answerWith = QMessageBox::NoButton;
        m_drive = {};
        m_otherProcess.release();
        if (fault == Fault::Vanished)
            QVERIFY(m_sim->start(m_simPort) == m_simPort);
        if (fault == Fault::RouteGone)
            mw_VupFileInfo.CamIPAddress = QString::fromStdString(m_sim->address());
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
        } else if (sealed(fault)) {
            sealFolder(components);  // the run then goes through a sealed folder
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    }

    void init()
    {
        m_sim = std::make_unique<CameraSim>();
        QVERIFY((m_simPort = m_sim->start()) > 0);
        // What the camera compares: the user ID's bytes as the tool sends them, in Latin-1.
        m_sim->setCredentials(kUser.toLatin1().toStdString(), kPassword.toStdString());
        m_sim->setRestartTime(std::chrono::milliseconds(20));
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid() && writeSampleFolder(m_dir->path().toStdString()));
        m_log = std::make_unique<LogCapture>();
        m_op = std::make_unique<Operator>();
        m_op->folder = m_dir->path();
        m_op->user = kUser;
        m_op->password = kPassword;
        m_op->onProgress = [this](DialogProgressBar* progress) {
            // No tick comes by itself: the test plays every second of the waits.
            progress->setTickInterval(3600 * 1000);
            for (QTimer* t : progress->findChildren<QTimer*>())
                if (t->isActive())
                    t->start(3600 * 1000);
            QTimer::singleShot(0, progress, [this, progress] { m_drive ? m_drive(progress) : driveToEnd(progress); });
        };
        m_drive = {};
        m_w = std::make_unique<MainWindow>();
        m_w->show();
        child<QLineEdit>(*m_w, "IPAddressWriteSpace")->setText(QString::fromStdString(m_sim->address()));
        m_hung = false;
    }

    void cleanup()
    {
        // Whatever happened, neither the credential nor its parts reach the log. Checked after
        // the tear-down, so a failure cannot leave this row's capture and camera to the next.
        const QStringList leaked = m_log->secretsFound(credentialForms(kUser, kPassword) + credentialForms(kUser, kWrongPassword));
        m_w.reset();
        m_op.reset();
        m_log.reset();
        m_sim.reset();
        m_dir.reset();
        QCOMPARE(leaked, QStringList());
    }

    void matrix_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("model");
        QTest::addColumn<QStringList>("components");  // ticked for the update; none: the whole sample folder
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QStringList>("lines");  // naming the end, in order
        QTest::addColumn<int>("received");       // by the camera: inquiries at Connect, uploads at Execute
        QTest::addColumn<int>("withinMs");       // from Connect or Execute to the end
        const auto row = [](const char* name, Fault fault, int model, const QStringList& components,
                            const QStringList& messages, const QStringList& lines, int received, int withinMs = 5000) {
            QTest::newRow(name) << fault << model << components << messages << lines << received << withinMs;
        };
        const QStringList one{"servo_cpu"}, two{"servo_cpu", "cam_eeprom"}, net{"network_cpu"}, none;
        const QStringList cameraErr{"Camera Err"}, verUpErr{"VerUp Err"}, updateNG{"UpdateNG"}, updateErr{"Update Err"};
        // The error code the client reports follows the handler's first line; then the clearing.
        const auto inquiryError = [](int code) {
            return QStringList{QStringLiteral("■DEBUG■MW_CAM_finished()\n%1\nCamera Err2\n■DEBUG■mw_initializeAllCrear()").arg(code)};
        };
        const QStringList answerErr{"■DEBUG■MW_CAM_finished()\n0", "■DEBUG■mw_initializeAllCrear()", "Camera Err1"};
        const QString uploadAnswer = QStringLiteral("■DEBUG■DIAPRO_finished()\nDiaPro_mode\n0");
        const int tk300 = CAM_MODELID_QV_TK300, tk10 = CAM_MODELID_QV_TK10, tkd7s = CAM_MODELID_QV_TKD7_S;
        // The inquiry handler's failure rows; error codes as the network client numbers them.
        row("connect: refused", Fault::Refused, tk300, one, none, inquiryError(1), 0);
        row("connect: empty address", Fault::EmptyAddress, tk300, one, none, inquiryError(3), 0);
        row("connect: 404", Fault::Http404, tk300, one, none, inquiryError(203), 1);
        row("connect: model answer with CR LF", Fault::ModelAnswerCrLf, tk300, one, cameraErr, answerErr, 1);
        row("connect: wrong version prefix", Fault::WrongVersionPrefix, CAM_MODELID_QV_NEW_TK15_H, one, cameraErr, answerErr, 2);
        row("connect: slow answers", Fault::SlowInquiries, tk300, one, none, {"■DEBUG■NOTERR\nCamera END"}, 10);
        row("connect twice: answer behind the box", Fault::AnswerWhileBoxOpen, tk300, one, {"Camera Err", "Camera Err"},
            {"■DEBUG■MW_CAM_MODEL_QID_QV_TK300()", "Camera Err1", "■DEBUG■MW_CAM_finished()\n0\n■DEBUG■mw_initializeAllCrear()",
             "Camera Err1"}, 3);
        // A 200 answer when nothing is due, as to the bare request Connect sends after the end.
        row("connect again: answer after the end", Fault::AnswerAfterEnd, tk10, one, cameraErr,
            {"Camera END", "■DEBUG■MW_CAM_finished()\n0\n■DEBUG■mw_initializeAllCrear()", "Camera Err1"}, 7);
        row("connect: camera restarting, 503", Fault::RestartingHttpError, tk300, one, none, inquiryError(403), 1);
        // The client asks once more when a connection closes without an answer.
        row("connect: camera restarting, closes", Fault::RestartingClosed, tk300, one, none, inquiryError(2), 2);
        // Any model answer but the three known ones.
        row("connect: camera restarting, QID answer", Fault::RestartingQidAnswer, tk300, one, cameraErr, answerErr, 1);
        // A camera that takes the connection and never answers: no answer within the inquiry's
        // bound counts as a network error (5: cancelled). Pressed seven times, no press waits
        // behind the client's six connections for good.
        row("connect: silent camera", Fault::Silent, tk300, one, none, inquiryError(5), 1, 12000);
        row("connect seven times: silent camera", Fault::SilentSevenTimes, tk300, one, none, inquiryError(5), -6, 12000);
        row("connect: version inquiry unanswered", Fault::SilentVersion, tk300, one, none,
            {"■DEBUG■MW_CAM_MODEL_QID_QV_TK300()", inquiryError(5).front()}, 2, 12000);

        // The whole update of each family: every file of the sample folder.
        row("update: tk300", Fault::None, tk300, none, none, none, 0);
        row("update: new tk20 h", Fault::None, CAM_MODELID_QV_NEW_TK20_H, none, none, none, 0);
        row("update: tkd7 s, img and bin", Fault::None, tkd7s, none, none, none, 0);
        row("update: tk10", Fault::None, tk10, none, none, none, 0);

        // Every end of an update run but success, which ends every row below once the fault is gone.
        row("execute: wrong password, 401", Fault::WrongPassword, tk300, two, verUpErr, {uploadAnswer, "■DEBUG■VerUp Start NG2"}, 1);
        row("execute: 500", Fault::Http500, tk300, one, verUpErr, {uploadAnswer, "■DEBUG■VerUp Start NG2"}, 1);
        row("execute: no marker", Fault::NoMarker, tkd7s, one, verUpErr, {uploadAnswer, "■DEBUG■VerUp Start NG"}, 1);
        // Sent once: a dropped upload is reported, never repeated behind the operator's back.
        row("execute: dropped mid-upload", Fault::DroppedMidUpload, tk300, two, verUpErr,
            {uploadAnswer, "■DEBUG■VerUp Start NG2"}, 1);
        row("execute: slow answers", Fault::SlowRun, tk300, two, {kDone}, {"NextFile", "QID:OK", "TimerStop"}, 2);
        row("execute: no upload reply", Fault::NoUploadReply, tk300, one, updateNG, {"■DEBUG■Timeout1 NG", "UpdateNG4"}, 1);
        row("execute: never back", Fault::NeverBack, tk300, two, updateNG,
            {"■DEBUG■DIAPRO_timeout2_OK()", "■DEBUG■Timeout2 NG",
             "■DEBUG■DIAPRO_finished()\nDiaPro_mode\n2\n■DEBUG■DIAPRO_finished ignored"}, 1);
        row("execute: wrong network version", Fault::WrongNetworkVersion, tk10, net, updateErr,
            {"■DEBUG■DIAPRO_CAM_finished()\n0\n■DEBUG■DIAPRO_CAM_finished NG\nTimerStop",
             "■DEBUG■DIAPRO_CAM_finished ignored", "■DEBUG■DIAPRO_CAM_finished ignored"}, 1);
        row("execute: network software, never back", Fault::NetworkNeverBack, tkd7s, net, updateErr,
            {"■DEBUG■DIAPRO_CAM_finished()\n403\n■DEBUG■DIAPRO_CAM_finished NG\nTimerStop"}, 1);
        row("execute: nothing ticked", Fault::NothingTicked, tk300, one, {"Start Err"},
            {"■DEBUG■VerUpFileNG\n■DEBUG■DIAPRO_StartVerUpNG"}, 0);
        row("execute: second file missing", Fault::FileMissing, tk300, two, updateNG, {"NextFile", "UpdateNG1"}, 1);
        // A sealed folder: refused before the first file is sent.
        const QStringList sealedNG{"■DEBUG■SHA256SUMS NG", "\"qv_cam_eeprom_V0110.eep\"", "UpdateNG1"};
        row("execute: second file differs from SHA256SUMS", Fault::SumsDiffer, tk300, two, updateNG, sealedNG, 0);
        row("execute: second file not in SHA256SUMS", Fault::SumsNotListed, tk300, two, updateNG, sealedNG, 0);
        // Another Kelvora process updates the camera: refused before the first file is sent.
        row("execute: camera held by another process", Fault::CameraHeld, tk300, two, {kCameraHeld}, {"■DEBUG■CameraLock NG"}, 0);
        // The camera is gone between Connect and Execute: refused, or no route to it at all.
        row("execute: camera vanished", Fault::Vanished, tk300, one, verUpErr, {uploadAnswer, "■DEBUG■VerUp Start NG2"}, 0, 2000);
        row("execute: route gone", Fault::RouteGone, tk300, one, verUpErr, {uploadAnswer, "■DEBUG■VerUp Start NG2"}, 0, 2000);
        // The camera's page of acceptance, before it has taken the body, stands for nothing.
        row("execute: accepted before the body", Fault::AnswerEarly, tk300, one, verUpErr,
            {uploadAnswer, "■DEBUG■VerUp Start NG2"}, 1);
        // The run gives up while the body is still going out: the camera gets nothing more.
        row("execute: body still going out", Fault::BodyStillGoing, tk300, one, updateNG,
            {"■DEBUG■Timeout1 NG", "■DEBUG■DIAPRO_finished()\nDiaPro_mode\n0\n■DEBUG■DIAPRO_finished ignored", "UpdateNG4"}, 1);
        row("execute: upload unanswered", Fault::SilentUpload, tk300, one, updateNG, {"■DEBUG■Timeout1 NG", "UpdateNG4"}, 1);
        row("execute: re-inquiry unanswered", Fault::SilentReinquiry, tk300, one, {kDone},
            {"■DEBUG■DIAPRO_timeout2_OK()", "■DEBUG■DIAPRO_finished()\nDiaPro_mode\n2\n■DEBUG■DIAPRO_finished else2",
             "QID:OK", "TimerStop"}, 1, 12000);
        row("execute: network version unanswered", Fault::SilentNetworkVersion, tkd7s, net, updateErr,
            {"■DEBUG■DIAPRO_CAM_finished()\n5\n■DEBUG■DIAPRO_CAM_finished NG\nTimerStop"}, 1, 12000);
        // Escape while the camera writes the file: asked, and stopped at the operator's word.
        row("execute: stop watching", Fault::StopWatching, tk300, one, {kStopQuestion, kStopped},
            {"■DEBUG■VerUp Stopped", "■DEBUG■diapro_initializeAllInfo()"}, 1);
    }

    void matrix()
    {
        QFETCH(Fault, fault);
        QFETCH(int, model);
        QFETCH(QStringList, components);
        QElapsedTimer clock;
        clock.start();
        m_model = model;
        QVERIFY(m_sim->setModel(model));
        for (const SampleFile& f : components.isEmpty() ? sampleFirmwareFiles(model) : std::vector<SampleFile>())
            for (const Component& c : kComponents)
                if (f.key == c.key)
                    components << QLatin1String(c.member);
        if (!atConnect(fault)) {
            connectCamera();
            QCOMPARE(mw_CamInfo.ModelID, model);
            chooseFolderAndTick(components);
        }
        m_log->clear();

        // The camera is identified in the end only when the inquiries were merely slow.
        const bool identified = !atConnect(fault) || fault == Fault::SlowInquiries;
        if (fault != Fault::None) {
            applyFault(fault, components);
            const QStringList before = shownState(*m_w);
            m_sim->clearLog();
            QPushButton* connectButton = child<QPushButton>(*m_w, "IPAddressButton");
            // From the press to the end the operator sees (the last box, or the window cleared),
            // and what the camera has received by then: nothing more may follow.
            QElapsedTimer sinceFault;
            qint64 endMs = -1;
            quint64 bytesAtEnd = 0;
            m_op->onMessage = [&](const QString&) {
                endMs = sinceFault.elapsed();
                bytesAtEnd = m_sim->bytesReceived();
            };
            sinceFault.start();
            if (fault == Fault::SilentSevenTimes) {
                for (int press = 0; press < 7; ++press)
                    connectButton->click();
                settleInquiries(7);
            } else if (fault == Fault::AnswerWhileBoxOpen || fault == Fault::AnswerAfterEnd) {
                connectButton->click();
                QVERIFY(fault == Fault::AnswerWhileBoxOpen || waitFor([&] { return m_w->mw_ReqCamIndex == 5; }));
                connectButton->click();
                settleInquiries(2);
            } else if (atConnect(fault)) {
                connectCamera();
            } else {
                execute();
            }
            if (m_op->texts().isEmpty()) {
                endMs = sinceFault.elapsed();
                bytesAtEnd = m_sim->bytesReceived();
            }
            m_op->onMessage = {};
            QFETCH(int, withinMs);
            qInfo("ended %lld ms after the press, %llu bytes at the camera then", endMs, qulonglong(bytesAtEnd));
            QVERIFY2(endMs <= withinMs, qPrintable(QStringLiteral("ended after %1 ms").arg(endMs)));
            QTest::qWait(300);
            QCOMPARE(m_sim->bytesReceived(), bytesAtEnd);
            QVERIFY(!m_hung && !m_op->heldTooLong);
            QTEST(m_op->texts(), "messages");
            QFETCH(QStringList, lines);
            QVERIFY2(m_log->containsInOrder(lines), qPrintable(m_log->lines().mid(m_log->lines().size() - 60).join(u'\n')));
            QCOMPARE(windowsLeft(), QStringList());  // no dialog, no box, modal or not
            QVERIFY(runRecordsEmpty());
            // A refused upload ends the run before any reset wait has begun.
            QVERIFY(m_op->texts() != QStringList{"VerUp Err"} || !m_log->contains(QStringLiteral("■DEBUG■VerUp Start OK")));
            QFETCH(int, received);  // negative: at least that many
            const int got = int(atConnect(fault) ? m_sim->requests().size() : m_sim->uploads().size());
            QVERIFY2(received < 0 ? got >= -received : got == received, qPrintable(QString::number(got)));
            QCOMPARE(m_op->credentialDialogs, atConnect(fault) ? 0 : 1);
            // An update's box is over the progress dialog while it shows, else over the window,
            // as for a refusal at the start (a SHA256SUMS refusal, a camera held): never over a
            // dialog not shown.
            for (const ModalWatcher::Message& m : m_op->messages()) {
                const bool overProgress = !atConnect(fault) && m.shownWindows.contains(QStringLiteral("DialogProgressBar"));
                QCOMPARE(m.parentName + u'|' + m.title, overProgress ? QStringLiteral("DialogProgressBar|") : QStringLiteral("MainWindow|"));
                QVERIFY(m.parentVisible && (atConnect(fault) || m.text == kStopQuestion || !m.parentTimersActive));
            }
            if (atConnect(fault)) {
                QCOMPARE(windowCleared(*m_w), !identified);
                QCOMPARE(mw_CamInfo.ModelID, identified ? model : 0);
            } else {
                // Back at the window as it was; no tick of the run came while a box was open.
                QCOMPARE(shownState(*m_w), before);
                // A run that ends at its start is never shown.
                QCOMPARE(m_op->progressDialogs, refusedAtStart(fault) ? 0 : 1);
            }
            // Let a late answer reach a tool that has let the upload go.
            if (fault == Fault::NoUploadReply)
                QVERIFY(waitFor([&] { return !m_sim->uploads().empty() && m_sim->uploads().front().status >= 0; }));
        }

        // The fault gone, the next Connect (and what follows it) or Execute works. A camera
        // identified in the end is not asked again: Connect would start afresh.
        switchFaultOff(fault, components);
        if (!identified) {
            m_sim->clearLog();
            connectCamera();
            QCOMPARE(QString::fromStdString(m_sim->requests().front().target), QStringLiteral("/cgi-bin/qv_cam?cmd=QID&res=1"));
            QCOMPARE(mw_CamInfo.ModelID, model);
        }
        if (atConnect(fault))
            chooseFolderAndTick(components);
        const QStringList ready = shownState(*m_w);
        m_op->clear();
        m_op->credentialDialogs = m_op->progressDialogs = 0;
        m_sim->clearLog();
        execute();
        QVERIFY(!m_hung);
        QCOMPARE(m_op->texts(), QStringList{kDone});
        QVERIFY(m_op->credentialDialogs == 1 && m_op->progressDialogs == 1);
        // Only a sealed folder's run says so: any other is traced as it always was.
        QCOMPARE(m_log->contains(QStringLiteral("■DEBUG■SHA256SUMS OK")), sealed(fault));
        // The camera received the ticked files, lowest upload order first, each with the credential.
        const std::pair<std::string, std::string> authorization{
            "Authorization", simBasicAuthorization(kUser.toLatin1().toStdString(), kPassword.toStdString())};
        QStringList sent, plan;
        for (const SimRequest& r : m_sim->uploads()) {
            QVERIFY(r.upload && r.upload->accepted);
            QCOMPARE(std::count(r.headers.begin(), r.headers.end(), authorization), 1);
            sent << QString::fromStdString(r.upload->firmwareName).section(u'\\', -1);  // the name after the folder
        }
        for (const SampleFile& f : planned(components))
            plan << QString::fromStdString(f.fileName);
        QCOMPARE(sent, plan);
        QCOMPARE(shownState(*m_w), ready);
        QVERIFY(runRecordsEmpty());
        QCOMPARE(windowsLeft(), QStringList());
        if (fault == Fault::None) {
            QVERIFY(m_log->containsInOrder({"■DEBUG■VerUp Start OK", "QID:OK", "NextFile", "QID:OK", "TimerStop",
                                            "■DEBUG■diapro_initializeAllInfo()"}));
            // Connect after the end sends the bare request; the camera's refusal clears the window
            // without a box, and the next Connect asks afresh and shows what was written.
            m_sim->clearLog();
            connectCamera();
            QVERIFY(m_log->containsInOrder({"\"http://" + QString::fromStdString(m_sim->address()) + "/cgi-bin/\"", "Camera Err2"}));
            QVERIFY(windowCleared(*m_w) && m_op->texts() == QStringList{kDone});
            connectCamera();
            QVERIFY(m_sim->requests().size() > 1 && m_sim->requests()[0].target == "/cgi-bin/"
                    && m_sim->requests()[1].target == "/cgi-bin/qv_cam?cmd=QID&res=1");
            const std::vector<SampleFile> cpu = planned({"cam_cpu"});
            QVERIFY(mw_CamInfo.ModelID == model && !cpu.empty());
            QCOMPARE(child<QLabel>(*m_w, "IP_CPU_CamMainVer")->text(), QString::fromStdString(cpu.front().version));
        }
        QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
    }

    void refused_data()
    {
        QTest::addColumn<bool>("connect");
        QTest::addColumn<bool>("shortVersions");  // no model identified
        QTest::addColumn<QByteArray>("list");     // written to the folder chosen; none: no folder chosen
        QTest::addColumn<QStringList>("messages");
        const QStringList camFileNone{"MW_OpenPasswordDialog CamFileNone."};
        const QByteArray tk10 = "[TK10]\ncam_cpu=main.bin\n[main.bin]\nversion=V01.20\nvupno=1\n";
        QTest::newRow("before connect") << false << false << QByteArray() << QStringList();
        QTest::newRow("before a folder") << true << false << QByteArray() << camFileNone;
        // The folder is refused, but stays chosen.
        QTest::newRow("no model identified") << true << true << tk10 << QStringList{"File is NOT exist!"} + camFileNone;
        // A camera CPU version meant for another model.
        QTest::newRow("versions do not suit") << true << false << QByteArray(tk10).replace("V01.20", "V02.10") << camFileNone;
    }

    // Execute refused before the credentials: nothing is sent and nothing taken from the boxes.
    void refused()
    {
        QFETCH(bool, connect);
        QFETCH(bool, shortVersions);
        QFETCH(QByteArray, list);
        QVERIFY(m_sim->setModel(CAM_MODELID_QV_TK10));
        SimFaults faults;
        faults.versionShort = shortVersions;
        m_sim->setFaults(faults);
        if (connect)
            connectCamera();
        if (!list.isEmpty()) {
            QFile file(m_dir->filePath(QStringLiteral("verup_list.ini")));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(list) == list.size());
            file.close();
            chooseFolderAndTick({});
        }
        child<QCheckBox>(*m_w, "VERUP_CUP_CamMain_checkBox")->setChecked(true);
        m_sim->clearLog();
        execute();
        QVERIFY(!m_hung);
        QTEST(m_op->texts(), "messages");
        for (const ModalWatcher::Message& m : m_op->messages())
            QCOMPARE(m.parentName + u'|' + m.title, QStringLiteral("MainWindow|"));
        QVERIFY(m_op->credentialDialogs == 0 && m_sim->requests().empty());
        QCOMPARE(mw_VupFileInfo.cam_cpu.Select, RMOCAM_FALSE);
    }
};

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
