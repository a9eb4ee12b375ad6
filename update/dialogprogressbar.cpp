#include "update/dialogprogressbar.h"

#include "common/debuglog.h"
#include "ui_dialogprogressbar.h"
#include "update/uploadplan.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QProcessEnvironment>
#include <QProgressBar>
#include <QTimer>

using kelvora::dbgLine;
using kelvora::dbgValue;

namespace {

const char kCameraHeldText[] = "This camera is being updated by another Kelvora process.";

// Leaving the dialog while the firmware is on its way would abandon the upload, so while a
// run is in progress neither Escape nor a close request reaches the dialog. Once the
// camera holds the file (writing it, restarting, being checked: up to an hour), they ask
// whether to stop watching instead: the operator is never kept longer than the upload's
// own watchdog allows.
class RunCloseGuard : public QObject
{
public:
    explicit RunCloseGuard(DialogProgressBar* dialog)
        : QObject(dialog)
        , m_dialog(dialog)
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_dialog || !m_dialog->isRunInProgress())
            return false;
        const bool escape =
            event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
        if (event->type() != QEvent::Close && !escape)
            return false;
        event->ignore();
        // Asked from the event loop, not from inside the event's delivery.
        QTimer::singleShot(0, m_dialog, &DialogProgressBar::askToStopWatching);
        return true;
    }

private:
    DialogProgressBar* m_dialog;
};

} // namespace

DialogProgressBar::DialogProgressBar(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogProgressBar)
{
    ui->setupUi(this);
    m_run = new UpdateRun(processRunRecords(), this);
    diapro_CamManager = m_run->camManager();
    diapro_initializeAllInfo();
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::MSWindowsFixedSizeDialogHint);
    diapro_Timer1 = m_run->watchdogTimer();
    diapro_Timer2 = m_run->resetWaitTimer();
    diapro_Manager = m_run->manager();
    connect(m_run, &UpdateRun::fileStarted, this, [this](int index, int count, const QString& fileName) {
        Q_UNUSED(index);
        Q_UNUSED(count);
        ui->Dia_Prog_NumLabel->setText(planPositionText(*m_run->records().plan));
        ui->Dia_Prog_Label->setText(fileName);
    });
    connect(m_run, &UpdateRun::progressChanged, ui->Dia_Prog_Bar, &QProgressBar::setValue);
    connect(m_run, &UpdateRun::message, this, &DialogProgressBar::showMessage);
    connect(m_run, &UpdateRun::closeRequested, this, &QDialog::reject);
    m_closeGuard = new RunCloseGuard(this);
    installEventFilter(m_closeGuard);
}

DialogProgressBar::~DialogProgressBar()
{
    // Events and signals of the base classes' destruction must not reach a half-destroyed dialog.
    removeEventFilter(m_closeGuard);
    m_run->disconnect(this);
    delete ui;
}

bool DialogProgressBar::isRunInProgress() const
{
    return m_run->isRunning();
}

void DialogProgressBar::setTickInterval(int milliseconds)
{
    m_watchdogTickMs = m_resetWaitTickMs = milliseconds;
    m_run->setTickIntervals(m_watchdogTickMs, m_resetWaitTickMs);
}

void DialogProgressBar::setResetWaitTickInterval(int milliseconds)
{
    m_resetWaitTickMs = milliseconds;
    m_run->setTickIntervals(m_watchdogTickMs, m_resetWaitTickMs);
}

void DialogProgressBar::askToStopWatching()
{
    if (m_askingToStop || !m_run->cameraHoldsFile())
        return;
    m_askingToStop = true;
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, QString(),
        QStringLiteral("The camera has the firmware file and may still be writing it. Stop watching this update?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    m_askingToStop = false;
    // The run may have ended, or moved on to posting its next file, while the question was open.
    if (answer == QMessageBox::Yes && m_run->cameraHoldsFile())
        m_run->stop();
}

// ---- Resets ----

void DialogProgressBar::diapro_initializeVupFileInfo()
{
    m_run->initializeSet();
}

void DialogProgressBar::diapro_initializediapro_sort_fileinfo()
{
    m_run->initializePlan();
}

void DialogProgressBar::diapro_initializeAllInfo()
{
    m_run->initializeAll();
}

// ---- The run ----

int DialogProgressBar::DIAPRO_StartVerUp(vup_file_info info)
{
    // Taken before the run writes anything, its process-wide records included: a refused
    // start disturbs neither the camera nor the run that holds it. A start during this
    // dialog's own run holds the lock already; the run refuses it.
    if (!m_run->isRunning() && !takeCameraLock(info.CamIPAddress))
        return 1;
    return m_run->start(info);
}

bool DialogProgressBar::takeCameraLock(const QString& address)
{
    // An earlier run's lock first: its open file would hold the camera against this one.
    m_cameraLock.release();
    m_cameraLock = UpdateLock::camera(updateLockFolder(QProcessEnvironment::systemEnvironment()), address);
    switch (m_cameraLock.outcome()) {
    case UpdateLock::Outcome::Taken:
        return true;
    case UpdateLock::Outcome::Held:
        dbgLine("■DEBUG■CameraLock NG");
        dbgValue(int(m_cameraLock.holderPid()));
        showMessage(QString::fromLatin1(kCameraHeldText));
        return false;
    case UpdateLock::Outcome::Failed:
        break;
    }
    // The lock keeps a second update off the camera; it never stands in the way of the
    // first: without a place for it (no runtime or home folder, or one that cannot be
    // written) the window updates as it always has.
    dbgLine("■DEBUG■CameraLock none");
    dbgValue(m_cameraLock.error());
    return true;
}

void DialogProgressBar::showMessage(const QString& text)
{
    // Over the window the operator is looking at: this dialog while it shows, and the window
    // that opened it for an end before the dialog has shown (a refusal at the start) or after
    // it has closed itself. A box over a hidden dialog is placed by a window never seen.
    QMessageBox::information(isVisible() ? this : parentWidget(), QString(), text);
}

int DialogProgressBar::diapro_SearchVerUpFile()
{
    return m_run->searchPlan();
}

void DialogProgressBar::diapro_SortFile()
{
    m_run->sortPlan();
}

void DialogProgressBar::diapro_getFileType(QString* type)
{
    m_run->getFileType(type);
}

void DialogProgressBar::diapro_getTimeout(int* timeout)
{
    m_run->getTimeout(timeout);
}

void DialogProgressBar::diapro_SetVerUpFile()
{
    m_run->postCurrentFile();
}

void DialogProgressBar::diaPro_VerUpStart(QString credential, QString filePath, QString fileType)
{
    m_run->postFile(credential, filePath, fileType);
}

void DialogProgressBar::diaPro_VerUpStart_TKD7_NET(QString credential, QString filePath, QString fileType)
{
    m_run->post(UploadForm::Tkd7Net, credential, filePath, fileType);
}

void DialogProgressBar::diaPro_VerUpStart_TKD7_CAM(QString credential, QString filePath, QString fileType)
{
    m_run->post(UploadForm::Tkd7Cam, credential, filePath, fileType);
}

void DialogProgressBar::diaPro_VerUpStart_TK15_TK20(QString credential, QString filePath, QString fileType)
{
    m_run->post(UploadForm::Tk15Tk20, credential, filePath, fileType);
}

void DialogProgressBar::diapro_ReqCam()
{
    m_run->askNetworkVersion();
}

void DialogProgressBar::DIAPRO_timeout1()
{
    m_run->watchdogTick();
}

void DialogProgressBar::DIAPRO_timeout2()
{
    m_run->resetWaitTick();
}

void DialogProgressBar::DIAPRO_finished(QNetworkReply* reply)
{
    m_run->handleReply(reply);
}

void DialogProgressBar::DIAPRO_CAM_finished(QNetworkReply* reply)
{
    m_run->handleVersionReply(reply);
}

void DialogProgressBar::Test()
{
    diapro_ReqCam();
}
