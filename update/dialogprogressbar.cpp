#include "update/dialogprogressbar.h"

#include "common/debuglog.h"
#include "camera/caminfo.h"
#include "ui_dialogprogressbar.h"
#include "update/uploadplan.h"
#include "update/uploadtransfer.h"

#include <QFile>
#include <QKeyEvent>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <utility>

using kelvora::dbgLine;
using kelvora::dbgValue;

namespace {

// Leaving the dialog mid-run would abandon a camera that may be writing firmware and
// leave the run's state behind, so while a run is in progress neither Escape nor any
// close request reaches it. The run ends only through its own ends.
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
        if (event->type() == QEvent::Close) {
            event->ignore();
            return true;
        }
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            return true;
        return false;
    }

private:
    DialogProgressBar* m_dialog;
};

QNetworkRequest requestFor(const QByteArray& encodedUrl)
{
    return QNetworkRequest(QUrl::fromEncoded(encodedUrl, QUrl::TolerantMode));
}

} // namespace

DialogProgressBar::DialogProgressBar(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogProgressBar)
{
    ui->setupUi(this);
    diapro_CamManager = new QNetworkAccessManager(this);
    diapro_CamManager->setObjectName(QStringLiteral("diapro_CamManager"));
    // The camera's own answer is judged: a redirect is an answer, not a hop.
    diapro_CamManager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    diapro_initializeAllInfo();
    connect(diapro_CamManager, &QNetworkAccessManager::finished, this, &DialogProgressBar::DIAPRO_CAM_finished);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::MSWindowsFixedSizeDialogHint);
    diapro_Timer1 = new QTimer(this);
    diapro_Timer1->setObjectName(QStringLiteral("diapro_Timer1"));
    diapro_Timer2 = new QTimer(this);
    diapro_Timer2->setObjectName(QStringLiteral("diapro_Timer2"));
    diapro_Manager = new QNetworkAccessManager(this);
    diapro_Manager->setObjectName(QStringLiteral("diapro_Manager"));
    diapro_Manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    connect(diapro_Manager, &QNetworkAccessManager::finished, this, &DialogProgressBar::DIAPRO_finished);
    connect(diapro_Timer1, &QTimer::timeout, this, &DialogProgressBar::DIAPRO_timeout1);
    connect(diapro_Timer2, &QTimer::timeout, this, &DialogProgressBar::DIAPRO_timeout2);
    m_closeGuard = new RunCloseGuard(this);
    installEventFilter(m_closeGuard);
}

DialogProgressBar::~DialogProgressBar()
{
    // Events and replies of the base classes' destruction must not reach a half-destroyed dialog.
    removeEventFilter(m_closeGuard);
    diapro_Manager->disconnect(this);
    diapro_CamManager->disconnect(this);
    delete ui;
}

// ---- Resets ----

void DialogProgressBar::diapro_initializeVupFileInfo()
{
    dbgLine("■DEBUG■diapro_initializeVupFileInfo()");
    resetVupFileInfo(diapro_FileInfo);
}

void DialogProgressBar::diapro_initializediapro_sort_fileinfo()
{
    dbgLine("■DEBUG■diapro_initializediapro_sort_fileinfo()");
    resetSortFileInfo(diapro_sort_fileinfo);
}

void DialogProgressBar::diapro_initializeAllInfo()
{
    dbgLine("■DEBUG■diapro_initializeAllInfo()");
    diapro_initializeVupFileInfo();
    diapro_initializediapro_sort_fileinfo();
    DiaPro_mode = 0;
    diapro_currenttime1 = 0.0;
    diapro_currenttime2 = 0.0;
    diapro_timeout2 = 0;
    diapro_interval2 = 0.0;
}

// ---- Start ----

int DialogProgressBar::DIAPRO_StartVerUp(vup_file_info info)
{
    dbgLine("■DEBUG■DIAPRO_StartVerUp()");
    if (m_runInProgress) {
        // The run state is process-wide: a second start would overwrite the running one.
        dbgLine("■DEBUG■DIAPRO_StartVerUpNG");
        return 1;
    }
    diapro_FileInfo = info;
    ui->Dia_Prog_Bar->setValue(0);
    if (diapro_SearchVerUpFile() != 0) {
        endRun(RunEnd::NotStarted);
        return 1;
    }
    m_runInProgress = true;
    diapro_SetVerUpFile();
    // The first file can end the run at once (unreadable, or no form for it): then there
    // is no modal run for the caller to wait on.
    return m_runInProgress ? 0 : 1;
}

// ---- Plan ----

int DialogProgressBar::diapro_SearchVerUpFile()
{
    dbgLine("■DEBUG■diapro_SearchVerUpFile()");
    if (gatherUploadPlan(diapro_FileInfo, diapro_sort_fileinfo) != 0) {
        dbgLine("■DEBUG■VerUpFileNG");
        return 1;
    }
    diapro_SortFile();
    dbgLine("■DEBUG■VerUpFileOK");
    return 0;
}

void DialogProgressBar::diapro_SortFile()
{
    sortUploadPlan(diapro_sort_fileinfo);
}

void DialogProgressBar::diapro_getFileType(QString* type)
{
    dbgLine("■DEBUG■diapro_getFileType()");
    const QString extension = currentExtension(diapro_sort_fileinfo);
    dbgValue(extension);
    fileTypeCode(extension, type);
}

void DialogProgressBar::diapro_getTimeout(int* timeout)
{
    dbgLine("■DEBUG■diapro_getTimeout()");
    const QString extension = currentExtension(diapro_sort_fileinfo);
    dbgValue(extension);
    *timeout = resetWaitTimeout(extension, diapro_FileInfo.Model);
    diapro_interval2 = 100.0 / *timeout;
}

void DialogProgressBar::diapro_SetVerUpFile()
{
    dbgLine("■DEBUG■diapro_SetVerUpFile()");
    const file_info* file = currentPlanFile(diapro_sort_fileinfo);
    if (!file) {
        dbgLine("■DEBUG■diapro_SetVerUpFile no file");
        return;
    }
    const QString path = planFilePath(diapro_FileInfo.DirPath, file->FileName);
    dbgValue(path);
    QString type;
    diapro_getFileType(&type);
    dbgLine("FileNum");
    dbgValue(diapro_sort_fileinfo.FileNum);
    dbgLine("MaxFileNum");
    dbgValue(diapro_sort_fileinfo.MaxFileNum);
    ui->Dia_Prog_NumLabel->setText(planPositionText(diapro_sort_fileinfo));
    ui->Dia_Prog_Label->setText(file->FileName);
    diapro_timeout2 = 0;
    diapro_interval2 = 0.0;
    diapro_currenttime2 = 0.0;
    diapro_getTimeout(&diapro_timeout2);
    dbgValue(diapro_timeout2);
    dbgValue(diapro_interval2);
    ui->Dia_Prog_Bar->setValue(int(diapro_currenttime2));
    diaPro_VerUpStart(diapro_FileInfo.Base64, path, type);
}

// ---- Uploads ----

void DialogProgressBar::diaPro_VerUpStart(QString credential, QString filePath, QString fileType)
{
    const QString extension = currentExtension(diapro_sort_fileinfo);
    dbgLine("■DEBUG■diaPro_VerUpStart()");
    const int model = diapro_FileInfo.Model;
    if (isTkd7Family(model))
        dbgValue(extension);
    switch (chooseUploadForm(model, extension)) {
    case UploadForm::Tkd7Cam:
        diaPro_VerUpStart_TKD7_CAM(credential, filePath, fileType);
        return;
    case UploadForm::Tkd7Net:
        diaPro_VerUpStart_TKD7_NET(credential, filePath, fileType);
        return;
    case UploadForm::Tk15Tk20:
        diaPro_VerUpStart_TK15_TK20(credential, filePath, fileType);
        return;
    case UploadForm::None:
        break;
    }
    // Nothing was sent, so no reply and no tick would ever move the run on.
    if (m_runInProgress)
        endRun(RunEnd::NoUploadForm);
}

void DialogProgressBar::diaPro_VerUpStart_TKD7_NET(QString credential, QString filePath, QString fileType)
{
    postUpload(UploadForm::Tkd7Net, credential, filePath, fileType);
}

void DialogProgressBar::diaPro_VerUpStart_TKD7_CAM(QString credential, QString filePath, QString fileType)
{
    postUpload(UploadForm::Tkd7Cam, credential, filePath, fileType);
}

void DialogProgressBar::diaPro_VerUpStart_TK15_TK20(QString credential, QString filePath, QString fileType)
{
    postUpload(UploadForm::Tk15Tk20, credential, filePath, fileType);
}

void DialogProgressBar::postUpload(UploadForm form, const QString& credential, const QString& filePath,
                                   const QString& fileType)
{
    const UploadFormSpec& constants = *uploadFormSpec(form);
    kelvora::dbgSecret();
    dbgValue(filePath);
    dbgValue(fileType);
    dbgLine(constants.builder);
    const QByteArray url = uploadUrl(form, diapro_FileInfo.CamIPAddress);
    dbgValue(url);

    QFile file(filePath);
    QByteArray body;
    if (!file.open(QIODevice::ReadOnly)
        || !buildUploadBody(form, uploadFileName(file.fileName()), fileType, file, &body)) {
        // Nothing is posted: an empty or cut firmware file must never reach the camera.
        endRun(RunEnd::FileUnreadable, constants.openFailLine);
        return;
    }
    const HeaderList headers = uploadHeaders(form, credential, diapro_FileInfo.CamIPAddress, body.size());
    for (const auto& [name, value] : headers) {
        if (name == "Referer")
            dbgValue(value);
    }
    // Carried beside diapro_Manager, not by it: see update/uploadtransfer.h.
    auto* reply = new UploadReply(url, headers, std::move(body), diapro_Manager);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { DIAPRO_finished(reply); });
    m_awaitedReply = reply;
    file.close();
    diapro_Timer1->start(m_watchdogTickMs);
}

// ---- Sequencer ----

void DialogProgressBar::DIAPRO_timeout1()
{
    dbgLine("■DEBUG■DIAPRO_timeout1()");
    dbgValue(diapro_currenttime1);
    if (!m_runInProgress)
        return;
    diapro_currenttime1 += 1.0;
    if (diapro_currenttime1 >= kUploadWaitLimit)
        endRun(RunEnd::NoUploadReply);
}

void DialogProgressBar::DIAPRO_timeout2()
{
    dbgLine("■DEBUG■DIAPRO_timeout2()");
    if (!m_runInProgress)
        return;
    if (DiaPro_mode == 1) {
        DiaPro_mode = 2;
        dbgLine("■DEBUG■DIAPRO_timeout2_OK()");
        const QByteArray url = modelReinquiryUrl(diapro_FileInfo.CamIPAddress);
        dbgValue(url);
        m_awaitedReply = diapro_Manager->get(requestFor(url));
    }
    const ResetWaitTick tick = advanceResetWait(&diapro_currenttime2, diapro_interval2);
    ui->Dia_Prog_Bar->setValue(tick.percent);
    dbgValue(tick.percent);
    dbgValue(diapro_currenttime2);
    dbgValue(diapro_interval2);
    dbgValue(diapro_timeout2);
    if (!tick.deadline)
        return;
    if (decidedByVersionCheck(diapro_FileInfo.Model, currentExtension(diapro_sort_fileinfo))) {
        m_versionCheckDue = true;
        diapro_ReqCam();
        return;
    }
    endRun(RunEnd::CameraNotBack);
}

void DialogProgressBar::DIAPRO_finished(QNetworkReply* reply)
{
    dbgLine("■DEBUG■DIAPRO_finished()");
    dbgLine("DiaPro_mode");
    dbgValue(DiaPro_mode);
    reply->deleteLater();
    if (!m_runInProgress || reply != m_awaitedReply) {
        dbgLine("■DEBUG■DIAPRO_finished ignored");
        return;
    }
    m_awaitedReply = nullptr;
    diapro_Timer1->stop();
    const bool failed = reply->error() != QNetworkReply::NoError;
    const QByteArray body = reply->readAll();
    const int model = diapro_FileInfo.Model;

    if (DiaPro_mode != 2) {
        switch (judgeUploadReply(model, failed, body)) {
        case UploadVerdict::Failed:
            endRun(RunEnd::UploadFailed);
            return;
        case UploadVerdict::Refused:
            endRun(RunEnd::UploadRefused);
            return;
        case UploadVerdict::Accepted:
            dbgLine("■DEBUG■VerUp Start OK");
            diapro_Timer2->start(m_resetWaitTickMs);
            DiaPro_mode = 1;
            return;
        }
        return;
    }

    switch (judgeReinquiryReply(model, currentExtension(diapro_sort_fileinfo), failed, body)) {
    case ReinquiryVerdict::NoAnswer:
        dbgLine("■DEBUG■DIAPRO_finished else2");
        DiaPro_mode = 1;
        return;
    case ReinquiryVerdict::NotBack:
        dbgLine("■DEBUG■DIAPRO_finished else1");
        DiaPro_mode = 1;
        return;
    case ReinquiryVerdict::LeftToCheck:
        return;
    case ReinquiryVerdict::Back:
        dbgLine("QID:OK");
        ui->Dia_Prog_Bar->setValue(100);
        dbgValue(diapro_sort_fileinfo.FileNum);
        dbgValue(diapro_sort_fileinfo.MaxFileNum);
        DiaPro_mode = 0;
        nextFile();
        return;
    }
}

void DialogProgressBar::DIAPRO_CAM_finished(QNetworkReply* reply)
{
    dbgLine("■DEBUG■DIAPRO_CAM_finished()");
    dbgValue(int(reply->error()));
    reply->deleteLater();
    if (!m_runInProgress || !m_versionReplies.contains(reply)) {
        dbgLine("■DEBUG■DIAPRO_CAM_finished ignored");
        return;
    }
    // The first answer decides the file; answers to the other inquiries come too late.
    m_versionReplies.clear();
    m_versionCheckDue = false;
    if (!networkVersionMatches(reply->error() != QNetworkReply::NoError, reply->readAll(),
                               diapro_FileInfo.network_cpu.Version)) {
        endRun(RunEnd::VersionCheckFailed);
        return;
    }
    DiaPro_mode = 0;
    nextFile();
}

void DialogProgressBar::Test()
{
    diapro_ReqCam();
}

void DialogProgressBar::diapro_ReqCam()
{
    dbgLine("■DEBUG■diapro_ReqCam()");
    QNetworkReply* reply = diapro_CamManager->get(requestFor(networkVersionUrl(diapro_FileInfo.CamIPAddress)));
    if (m_runInProgress && m_versionCheckDue)
        m_versionReplies.insert(reply);
}

void DialogProgressBar::nextFile()
{
    if (diapro_sort_fileinfo.FileNum < diapro_sort_fileinfo.MaxFileNum - 1) {
        dbgLine("NextFile");
        ++diapro_sort_fileinfo.FileNum;
        diapro_Timer2->stop();
        diapro_currenttime2 = 0.0;
        diapro_timeout2 = 0;
        diapro_interval2 = 0.0;
        forgetAwaitedReplies();
        diapro_SetVerUpFile();
        return;
    }
    endRun(RunEnd::Completed);
}

void DialogProgressBar::forgetAwaitedReplies()
{
    m_awaitedReply = nullptr;
    m_versionReplies.clear();
    m_versionCheckDue = false;
}

void DialogProgressBar::endRun(RunEnd end, const char* detail)
{
    // From here on every reply and tick is ignored, also while the message box is open.
    m_runInProgress = false;
    forgetAwaitedReplies();
    for (const RunEndStep& step : runEndSteps(end)) {
        switch (step.kind) {
        case RunEndStep::Log:
            dbgLine(step.text);
            break;
        case RunEndStep::LogDetail:
            if (detail)
                dbgLine(detail);
            break;
        case RunEndStep::Message:
            QMessageBox::information(this, QString(), QString::fromLatin1(step.text));
            break;
        case RunEndStep::StopTimer1:
            diapro_Timer1->stop();
            break;
        case RunEndStep::StopTimer2:
            diapro_Timer2->stop();
            break;
        case RunEndStep::Reset:
            diapro_initializeAllInfo();
            break;
        case RunEndStep::Close:
            reject();
            break;
        }
    }
    diapro_Timer1->stop();
    diapro_Timer2->stop();
}
