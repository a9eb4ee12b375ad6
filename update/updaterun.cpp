#include "update/updaterun.h"

#include "camera/caminfo.h"
#include "camera/inquiry.h"
#include "firmware/listfile.h"
#include "update/firmwarefiles.h"
#include "update/uploadplan.h"
#include "update/uploadtransfer.h"

#include <QNetworkAccessManager>
#include <QFileInfo>
#include <QNetworkReply>
#include <QTimer>

#include <utility>

namespace {

// The trace of a sealed folder: passed once at the start, or refused with the file's name
// and the reason as the two value lines that follow.
constexpr char kSumsPassedLine[] = "■DEBUG■SHA256SUMS OK";
constexpr char kSumsRefusedLine[] = "■DEBUG■SHA256SUMS NG";
// An empty firmware file, refused before anything of it is posted; its name follows.
constexpr char kEmptyFileLine[] = "■DEBUG■EmptyFile NG";

QString megabytes(qint64 bytes)
{
    return QStringLiteral("%1 MB").arg(double(bytes) / (1024.0 * 1024.0), 0, 'f', 1);
}

} // namespace

UpdateRun::UpdateRun(const RunRecords& records, QObject* parent)
    : QObject(parent)
    , m_records(records)
    , m_files(std::make_shared<FirmwareFiles>())
{
    m_camManager = new QNetworkAccessManager(this);
    m_camManager->setObjectName(QStringLiteral("diapro_CamManager"));
    // The camera's own answer is judged: a redirect is an answer, not a hop.
    m_camManager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    connect(m_camManager, &QNetworkAccessManager::finished, this, &UpdateRun::handleVersionReply);
    // Seconds are counted with these ticks: a coarse timer may fire some 5 % early.
    m_watchdog = new QTimer(this);
    m_watchdog->setObjectName(QStringLiteral("diapro_Timer1"));
    m_watchdog->setTimerType(Qt::PreciseTimer);
    m_resetWait = new QTimer(this);
    m_resetWait->setObjectName(QStringLiteral("diapro_Timer2"));
    m_resetWait->setTimerType(Qt::PreciseTimer);
    m_manager = new QNetworkAccessManager(this);
    m_manager->setObjectName(QStringLiteral("diapro_Manager"));
    m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    connect(m_manager, &QNetworkAccessManager::finished, this, &UpdateRun::handleReply);
    connect(m_watchdog, &QTimer::timeout, this, &UpdateRun::watchdogTick);
    connect(m_resetWait, &QTimer::timeout, this, &UpdateRun::resetWaitTick);
}

UpdateRun::~UpdateRun()
{
    // Replies finished while the managers are destroyed must not reach a half-destroyed run.
    m_manager->disconnect(this);
    m_camManager->disconnect(this);
    for (const QPointer<QNetworkReply>& reply : std::as_const(m_out))
        if (reply)
            reply->disconnect(this);
}

QNetworkReply* UpdateRun::inquire(const QByteArray& url, void (UpdateRun::*handler)(QNetworkReply*))
{
    // Not through the managers: an inquiry let go of at an end must never leave after it,
    // and a manager sends from a thread of its own, where an abort may come too late.
    QNetworkReply* reply = sendInquiry(this, url);
    connect(reply, &QNetworkReply::finished, this, [this, reply, handler] { (this->*handler)(reply); });
    return reply;
}

void UpdateRun::setFirmwareFiles(std::shared_ptr<FirmwareFiles> files)
{
    m_files = files ? std::move(files) : std::make_shared<FirmwareFiles>();
}

void UpdateRun::setJudgedFiles(JudgedFiles files)
{
    m_judged = std::make_unique<JudgedFiles>(std::move(files));
}

void UpdateRun::setTickIntervals(int watchdogMs, int resetWaitMs)
{
    m_watchdogTickMs = watchdogMs;
    m_resetWaitTickMs = resetWaitMs;
}

// ---- Resets ----

void UpdateRun::initializeSet()
{
    m_log.line("■DEBUG■diapro_initializeVupFileInfo()");
    resetVupFileInfo(*m_records.set);
}

void UpdateRun::initializePlan()
{
    m_log.line("■DEBUG■diapro_initializediapro_sort_fileinfo()");
    resetSortFileInfo(*m_records.plan);
}

void UpdateRun::initializeAll()
{
    m_log.line("■DEBUG■diapro_initializeAllInfo()");
    initializeSet();
    initializePlan();
    *m_records.mode = 0;
    *m_records.uploadWait = 0.0;
    *m_records.resetProgress = 0.0;
    *m_records.resetTimeout = 0;
    *m_records.resetStep = 0.0;
}

// ---- Start and plan ----

int UpdateRun::start(const vup_file_info& set)
{
    m_log.line("■DEBUG■DIAPRO_StartVerUp()");
    if (m_running) {
        // One run at a time on these records: a second start would overwrite the running one.
        m_log.line("■DEBUG■DIAPRO_StartVerUpNG");
        return 1;
    }
    *m_records.set = set;
    m_stopPosting = false;
    m_sums = {};
    m_sumsRefusal = {};
    m_failureDetail.clear();
    emit progressChanged(0);
    if (searchPlan() != 0) {
        m_failureDetail = QStringLiteral("no file to send has an upload order number");
        endRun(RunEnd::NotStarted);
        return 1;
    }
    m_running = true;
    claimPlan();
    if (!planPassesSums())
        return 1;
    postCurrentFile();
    // The first file can end the run at once (unreadable, or no form for it): then there
    // is nothing left to wait for.
    return m_running ? 0 : 1;
}

void UpdateRun::claimPlan()
{
    const sort_fileinfo& plan = *m_records.plan;
    m_claims.clear();
    m_judgedByPosition.clear();
    for (int k = 0; k < plan.MaxFileNum && k < kComponentCount; ++k) {
        const QString& name = plan.files[std::size_t(k)].FileName;
        if (m_judged)
            m_judgedByPosition.push_back(m_judged->copies.value(name));
        else
            m_claims.push_back(isFolderFileName(name) ? m_files->claim(planFilePath(m_records.set->DirPath, name)) : nullptr);
    }
    // Each copy is held by its position from here on, and let go as it is posted.
    if (m_judged)
        m_judged->copies.clear();
}

std::shared_ptr<const FirmwareCopy> UpdateRun::judgedCopy(int position) const
{
    return position >= 0 && std::size_t(position) < m_judgedByPosition.size() ? m_judgedByPosition[std::size_t(position)]
                                                                              : nullptr;
}

bool UpdateRun::planPassesSums()
{
    const vup_file_info& set = *m_records.set;
    const sort_fileinfo& plan = *m_records.plan;
    m_sums = m_judged ? m_judged->sums : readFolderSums(set.DirPath);
    const auto openFailLine = [&set](const QString& name) {
        const UploadFormSpec* form = uploadFormSpec(chooseUploadForm(set.Model, fileExtension(name)));
        return form ? form->openFailLine : nullptr;
    };
    // Nothing of a run goes out when one of its files is empty: an image cut to nothing
    // would otherwise reach the camera after the files before it. The fleet's copies are
    // what is sent; the window's files are judged on disk.
    const auto empty = [&](int k, const QString& name) {
        if (m_judged) {
            const std::shared_ptr<const FirmwareCopy> judged = judgedCopy(k);
            return judged && judged->size() == 0;
        }
        const QFileInfo onDisk(planFilePath(set.DirPath, name));
        return isFolderFileName(name) && onDisk.isFile() && onDisk.size() == 0;
    };
    for (int k = 0; k < plan.MaxFileNum && k < kComponentCount; ++k) {
        const QString& name = plan.files[std::size_t(k)].FileName;
        if (empty(k, name)) {
            refuseEmpty(name, openFailLine(name));
            return false;
        }
    }
    if (m_sums.state == FolderSums::Absent)
        return true;
    // A copy already held (the plan's, or an earlier run's of a fleet) is what would be sent;
    // any other file of the window is streamed from disk, so a refused run holds nothing.
    const auto judge = [&](int k, const QString& name) {
        if (m_judged) {
            const std::shared_ptr<const FirmwareCopy> judged = judgedCopy(k);
            return judgeDigest(m_sums, name, judged ? judged->sha256() : QByteArray());
        }
        const QByteArray held = isFolderFileName(name) ? m_files->heldSha256(planFilePath(set.DirPath, name)) : QByteArray();
        return held.isEmpty() ? checkFolderFile(m_sums, set.DirPath, name) : judgeDigest(m_sums, name, held);
    };
    for (int k = 0; k < plan.MaxFileNum && k < kComponentCount; ++k) {
        const QString& name = plan.files[std::size_t(k)].FileName;
        const SumCheck check = judge(k, name);
        if (!sumsAllowSending(check.verdict)) {
            refuseBySums(name, check, openFailLine(name));
            return false;
        }
    }
    m_log.line(kSumsPassedLine);
    return true;
}

void UpdateRun::refuseBySums(const QString& fileName, const SumCheck& check, const char* detail)
{
    m_sumsRefusal = {fileName, check};
    m_failureDetail = QStringLiteral("SHA256SUMS refuses %1: %2").arg(fileName, check.reason);
    m_log.line(kSumsRefusedLine);
    m_log.value(fileName);
    m_log.value(check.reason);
    endRun(RunEnd::FileUnreadable, detail);
}

void UpdateRun::refuseEmpty(const QString& fileName, const char* detail)
{
    m_failureDetail = QStringLiteral("%1 is empty").arg(fileName);
    m_log.line(kEmptyFileLine);
    m_log.value(fileName);
    endRun(RunEnd::FileUnreadable, detail);
}

int UpdateRun::searchPlan()
{
    m_log.line("■DEBUG■diapro_SearchVerUpFile()");
    if (gatherUploadPlan(*m_records.set, *m_records.plan, m_log) != 0) {
        m_log.line("■DEBUG■VerUpFileNG");
        return 1;
    }
    sortPlan();
    m_log.line("■DEBUG■VerUpFileOK");
    return 0;
}

void UpdateRun::sortPlan()
{
    sortUploadPlan(*m_records.plan);
}

void UpdateRun::getFileType(QString* type)
{
    m_log.line("■DEBUG■diapro_getFileType()");
    const QString extension = currentExtension(*m_records.plan);
    m_log.value(extension);
    fileTypeCode(extension, type);
}

void UpdateRun::getTimeout(int* timeout)
{
    m_log.line("■DEBUG■diapro_getTimeout()");
    const QString extension = currentExtension(*m_records.plan);
    m_log.value(extension);
    *timeout = resetWaitTimeout(extension, m_records.set->Model);
    *m_records.resetStep = 100.0 / *timeout;
}

void UpdateRun::postCurrentFile()
{
    m_log.line("■DEBUG■diapro_SetVerUpFile()");
    const sort_fileinfo& plan = *m_records.plan;
    const file_info* file = currentPlanFile(plan);
    if (!file) {
        m_log.line("■DEBUG■diapro_SetVerUpFile no file");
        return;
    }
    const vup_file_info& set = *m_records.set;
    const QString path = planFilePath(set.DirPath, file->FileName);
    m_log.value(path);
    QString type;
    getFileType(&type);
    m_log.line("FileNum");
    m_log.value(plan.FileNum);
    m_log.line("MaxFileNum");
    m_log.value(plan.MaxFileNum);
    emit fileStarted(plan.FileNum, plan.MaxFileNum, file->FileName);
    *m_records.resetTimeout = 0;
    *m_records.resetStep = 0.0;
    *m_records.resetProgress = 0.0;
    getTimeout(m_records.resetTimeout);
    m_log.value(*m_records.resetTimeout);
    m_log.value(*m_records.resetStep);
    emit progressChanged(int(*m_records.resetProgress));
    postFile(set.Base64, path, type);
}

void UpdateRun::postFile(const QString& credential, const QString& filePath, const QString& fileType)
{
    const QString extension = currentExtension(*m_records.plan);
    m_log.line("■DEBUG■diaPro_VerUpStart()");
    const int model = m_records.set->Model;
    if (isTkd7Family(model))
        m_log.value(extension);
    const UploadForm form = chooseUploadForm(model, extension);
    if (form != UploadForm::None) {
        post(form, credential, filePath, fileType);
        return;
    }
    // Nothing was sent, so no reply and no tick would ever move the run on.
    if (m_running) {
        m_failureDetail = QStringLiteral("the model has no upload form for %1").arg(uploadFileName(filePath));
        endRun(RunEnd::NoUploadForm);
    }
}

void UpdateRun::post(UploadForm form, const QString& credential, const QString& filePath, const QString& fileType)
{
    const UploadFormSpec& constants = *uploadFormSpec(form);
    m_log.secret();
    m_log.value(filePath);
    m_log.value(fileType);
    m_log.line(constants.builder);
    const vup_file_info& set = *m_records.set;
    const QByteArray url = uploadUrl(form, set.CamIPAddress);
    m_log.value(url);

    // A name that leaves the folder is a file the run cannot open: whatever it points at,
    // it is not the folder's firmware. Nothing is posted for an unreadable file either: an
    // empty or cut firmware file must never reach the camera.
    const file_info* planned = currentPlanFile(*m_records.plan);
    const bool sealed = m_sums.state != FolderSums::Absent;
    const int position = m_records.plan->FileNum;
    QByteArray sha256;
    QString unreadable;
    FirmwareFiles::Copy content;
    if (m_judged)
        content = judgedCopy(position);
    else if (planned && isFolderFileName(planned->FileName))
        content = m_files->file(filePath, &unreadable, sealed ? &sha256 : nullptr);
    if (m_judged && content && sealed)
        sha256 = content->sha256();
    // The upload holds the copy from here on; nothing else keeps it for this run.
    if (std::size_t(position) < m_claims.size())
        m_claims[std::size_t(position)].reset();
    if (std::size_t(position) < m_judgedByPosition.size())
        m_judgedByPosition[std::size_t(position)].reset();
    if (!content) {
        m_failureDetail = QStringLiteral("%1 cannot be read%2")
                              .arg(uploadFileName(filePath), unreadable.isEmpty() ? QString() : QStringLiteral(": ") + unreadable);
        endRun(RunEnd::FileUnreadable, constants.openFailLine);
        return;
    }
    if (content->size() == 0) {
        refuseEmpty(planned->FileName, constants.openFailLine);
        return;
    }
    // The file may have changed on disk since the start judged it: what is judged now is
    // the copy about to be sent.
    if (sealed) {
        const SumCheck check = judgeDigest(m_sums, planned->FileName, sha256);
        if (!sumsAllowSending(check.verdict)) {
            refuseBySums(planned->FileName, check, constants.openFailLine);
            return;
        }
    }
    const UploadFraming framing = uploadFraming(form, uploadFileName(filePath), fileType);
    UploadBody body{framing.head, content, framing.tail};
    const HeaderList headers = uploadHeaders(form, credential, set.CamIPAddress, body.size());
    for (const auto& [name, value] : headers) {
        if (name == "Referer")
            m_log.value(value);
    }
    // Carried beside diapro_Manager, not by it: see update/uploadtransfer.h.
    auto* reply = new UploadReply(url, headers, std::move(body), m_manager);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { handleReply(reply); });
    connect(reply, &QNetworkReply::uploadProgress, this, &UpdateRun::uploadProgress);
    m_sending = content;
    m_awaitedReply = reply;
    m_out.append(reply);
    m_watchdog->start(m_watchdogTickMs);
}

// ---- The run's events ----

void UpdateRun::watchdogTick()
{
    m_log.line("■DEBUG■DIAPRO_timeout1()");
    m_log.value(*m_records.uploadWait);
    if (!m_running)
        return;
    *m_records.uploadWait += 1.0;
    if (*m_records.uploadWait >= kUploadWaitLimit) {
        m_failureDetail = QStringLiteral("no answer to the uploads within %1 s").arg(kUploadWaitLimit);
        endRun(RunEnd::NoUploadReply);
    }
}

void UpdateRun::resetWaitTick()
{
    m_log.line("■DEBUG■DIAPRO_timeout2()");
    if (!m_running)
        return;
    const vup_file_info& set = *m_records.set;
    double progress = *m_records.resetProgress;
    const ResetWaitTick tick = advanceResetWait(&progress, *m_records.resetStep);
    const bool checkedByVersion = decidedByVersionCheck(set.Model, currentExtension(*m_records.plan));
    // A tick that ends the run asks nothing more: a request sent and aborted in one go could
    // still reach the camera after the end is shown.
    if (*m_records.mode == 1 && !(tick.deadline && !checkedByVersion)) {
        *m_records.mode = 2;
        m_log.line("■DEBUG■DIAPRO_timeout2_OK()");
        const QByteArray url = modelReinquiryUrl(set.CamIPAddress);
        m_log.value(url);
        m_awaitedReply = inquire(url, &UpdateRun::handleReply);
        m_out.append(m_awaitedReply);
    }
    *m_records.resetProgress = progress;
    emit progressChanged(tick.percent);
    m_log.value(tick.percent);
    m_log.value(*m_records.resetProgress);
    m_log.value(*m_records.resetStep);
    m_log.value(*m_records.resetTimeout);
    if (!tick.deadline)
        return;
    if (checkedByVersion) {
        if (!m_versionCheckDue)
            emit versionCheckStarted();
        m_versionCheckDue = true;
        askNetworkVersion();
        return;
    }
    m_failureDetail = QStringLiteral("the camera did not answer again within %1 s of taking %2")
                          .arg(*m_records.resetTimeout)
                          .arg(currentPlanFile(*m_records.plan) ? currentPlanFile(*m_records.plan)->FileName : QString());
    endRun(RunEnd::CameraNotBack);
}

void UpdateRun::handleReply(QNetworkReply* reply)
{
    endInquiryBound(reply);
    m_log.line("■DEBUG■DIAPRO_finished()");
    m_log.line("DiaPro_mode");
    m_log.value(*m_records.mode);
    reply->deleteLater();
    if (!m_running || reply != m_awaitedReply) {
        m_log.line("■DEBUG■DIAPRO_finished ignored");
        return;
    }
    m_awaitedReply = nullptr;
    m_watchdog->stop();
    const bool failed = reply->error() != QNetworkReply::NoError;
    // An aborted reply has nothing to read; a failed one is judged by its error alone.
    const QByteArray body = failed ? QByteArray() : reply->readAll();
    const int model = m_records.set->Model;

    if (*m_records.mode != 2) {
        switch (judgeUploadReply(model, failed, body)) {
        case UploadVerdict::Failed:
            m_failureDetail = uploadFailure(reply);
            endRun(RunEnd::UploadFailed);
            return;
        case UploadVerdict::Refused:
            m_failureDetail = QStringLiteral("the camera answered HTTP %1 without taking the file")
                                  .arg(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
            endRun(RunEnd::UploadRefused);
            return;
        case UploadVerdict::Accepted:
            m_log.line("■DEBUG■VerUp Start OK");
            m_resetWait->start(m_resetWaitTickMs);
            *m_records.mode = 1;
            emit fileAccepted();
            m_sending.reset();
            return;
        }
        return;
    }

    switch (judgeReinquiryReply(model, currentExtension(*m_records.plan), failed, body)) {
    case ReinquiryVerdict::NoAnswer:
        m_log.line("■DEBUG■DIAPRO_finished else2");
        *m_records.mode = 1;
        return;
    case ReinquiryVerdict::NotBack:
        m_log.line("■DEBUG■DIAPRO_finished else1");
        *m_records.mode = 1;
        return;
    case ReinquiryVerdict::LeftToCheck:
        return;
    case ReinquiryVerdict::Back:
        m_log.line("QID:OK");
        emit progressChanged(100);
        m_log.value(m_records.plan->FileNum);
        m_log.value(m_records.plan->MaxFileNum);
        *m_records.mode = 0;
        nextFile();
        return;
    }
}

void UpdateRun::handleVersionReply(QNetworkReply* reply)
{
    endInquiryBound(reply);
    m_log.line("■DEBUG■DIAPRO_CAM_finished()");
    m_log.value(int(reply->error()));
    reply->deleteLater();
    if (!m_running || !m_versionReplies.contains(reply)) {
        m_log.line("■DEBUG■DIAPRO_CAM_finished ignored");
        return;
    }
    // The first answer decides the file; answers to the other inquiries come too late.
    m_versionReplies.clear();
    m_versionCheckDue = false;
    const bool failed = reply->error() != QNetworkReply::NoError;
    const QByteArray answer = failed ? QByteArray() : reply->readAll();
    if (!networkVersionMatches(failed, answer, m_records.set->network_cpu.Version)) {
        m_failureDetail = failed ? QStringLiteral("the network version inquiry failed: %1").arg(reply->errorString())
                                 : QStringLiteral("the network version answer \"%1\" is not %2")
                                       .arg(QString::fromLatin1(answer.left(64).trimmed()), m_records.set->network_cpu.Version);
        endRun(RunEnd::VersionCheckFailed);
        return;
    }
    *m_records.mode = 0;
    nextFile();
}

void UpdateRun::askNetworkVersion()
{
    m_log.line("■DEBUG■diapro_ReqCam()");
    QNetworkReply* reply = inquire(networkVersionUrl(m_records.set->CamIPAddress), &UpdateRun::handleVersionReply);
    m_out.append(reply);
    if (m_running && m_versionCheckDue)
        m_versionReplies.insert(reply);
}

void UpdateRun::nextFile()
{
    sort_fileinfo& plan = *m_records.plan;
    if (plan.FileNum >= plan.MaxFileNum - 1) {
        endRun(RunEnd::Completed);
        return;
    }
    if (m_stopPosting) {
        endRun(RunEnd::StoppedSending);
        return;
    }
    m_log.line("NextFile");
    ++plan.FileNum;
    m_resetWait->stop();
    *m_records.resetProgress = 0.0;
    *m_records.resetTimeout = 0;
    *m_records.resetStep = 0.0;
    forgetAwaitedReplies();
    postCurrentFile();
}

void UpdateRun::stop()
{
    if (m_running)
        endRun(cameraHoldsFile() ? RunEnd::Stopped : RunEnd::StoppedSending);
}

QString UpdateRun::uploadFailure(QNetworkReply* reply) const
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 401)
        return QStringLiteral("the camera refused the credentials (HTTP 401)");
    if (status > 0)
        return QStringLiteral("HTTP %1").arg(status);
    const auto* upload = dynamic_cast<UploadReply*>(reply);
    const QString sent = upload ? QStringLiteral(" after %1 of %2").arg(megabytes(upload->bodyBytesSent()), megabytes(upload->bodySize()))
                                : QString();
    switch (reply->error()) {
    case QNetworkReply::ConnectionRefusedError: return QStringLiteral("connection refused");
    case QNetworkReply::RemoteHostClosedError: return QStringLiteral("connection closed or reset") + sent;
    case QNetworkReply::HostNotFoundError: return QStringLiteral("host not found");
    case QNetworkReply::TimeoutError: return QStringLiteral("no answer in time") + sent;
    case QNetworkReply::OperationCanceledError: return QStringLiteral("cancelled") + sent;
    default: break;
    }
    return reply->errorString() + sent;
}

// ---- Ends ----

void UpdateRun::forgetAwaitedReplies()
{
    m_awaitedReply = nullptr;
    m_versionReplies.clear();
    m_versionCheckDue = false;
    m_out.removeAll(nullptr);
}

void UpdateRun::abortAll()
{
    // Their finished replies come back to the handlers, which let them go: the run is over.
    // A reply that has met an error but whose finished() is still to come is aborted too:
    // otherwise its handler would run after the end, when whoever drives the run may have
    // let go of what the run writes to.
    const QList<QPointer<QNetworkReply>> out = std::exchange(m_out, {});
    for (const QPointer<QNetworkReply>& reply : out)
        if (reply && !reply->isFinished())
            reply->abort();
}

void UpdateRun::endRun(RunEnd end, const char* detail)
{
    // From here on every reply and tick is ignored, also while a front end holds the run
    // at the end's message.
    m_running = false;
    forgetAwaitedReplies();
    m_claims.clear();
    m_sending.reset();
    for (const RunEndStep& step : runEndSteps(end)) {
        switch (step.kind) {
        case RunEndStep::Log:
            m_log.line(step.text);
            break;
        case RunEndStep::LogDetail:
            if (detail)
                m_log.line(detail);
            break;
        case RunEndStep::Message:
            emit message(QString::fromLatin1(step.text));
            break;
        case RunEndStep::StopTimer1:
            m_watchdog->stop();
            break;
        case RunEndStep::StopTimer2:
            m_resetWait->stop();
            break;
        case RunEndStep::Reset:
            initializeAll();
            break;
        case RunEndStep::Abort:
            abortAll();
            break;
        case RunEndStep::Close:
            emit closeRequested();
            break;
        }
    }
    m_watchdog->stop();
    m_resetWait->stop();
    abortAll();
    const char* text = runEndMessage(end);
    emit ended(end, text ? QString::fromLatin1(text) : QString());
}
