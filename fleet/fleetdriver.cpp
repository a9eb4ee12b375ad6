#include "fleet/fleetdriver.h"

#include "fleet/cameralog.h"
#include "fleet/fleetpolicy.h"

#include "camera/camerainquiry.h"
#include "update/updaterun.h"

#include "update/uploadplan.h"

#include <QElapsedTimer>

#include <utility>

struct FleetDriver::Work {
    CameraInquiry* inquiry = nullptr;  // the inquiry under way (first or after the run)
    UpdateRun* run = nullptr;
    OwnRunRecords records;             // the run's own, as the window's are process-wide
    // Shared with the sinks of the run's and the inquiries' logs: a handler that still
    // writes after the camera has ended writes into a log that is still there.
    std::shared_ptr<CameraLog> log;
    CameraStatus status;
    QElapsedTimer upload;  // since the current file was posted
    int current = -1;    // 0-based position of the file the run is on
    int position = -1;   // in the stage's scheduler; -1 without a run
    bool posted = false; // the current file has gone out (bytes sent, or the wait begun)
    bool heldAtStop = false;  // the camera held a file when everything was stopped
    bool runEnded = false;
    bool ended = false;  // the camera is done with, in this stage
    // The camera's files: each, once read for any camera, is kept until this camera's run
    // claims it, so a camera that starts later does not read and hash it again.
    std::vector<FirmwareFiles::Claim> planned;
};

namespace {

QDateTime now()
{
    return QDateTime::currentDateTimeUtc();
}

} // namespace

FleetDriver::FleetDriver(QObject* parent)
    : QObject(parent)
{
}

FleetDriver::~FleetDriver()
{
    m_scheduler.reset();
    for (const auto& w : m_work) {
        if (w->inquiry)
            w->inquiry->disconnect(this);
        if (w->run)
            w->run->disconnect(this);
    }
}

// ---- inquiries ----

void FleetDriver::inquire(const QStringList& addresses, int parallel)
{
    const int count = int(addresses.size());
    m_scans.assign(std::size_t(count), ScanResult());
    m_work.clear();
    for (int i = 0; i < count; ++i) {
        m_scans[std::size_t(i)].address = addresses[i];
        m_work.push_back(std::make_unique<Work>());
    }
    m_answered = 0;
    m_inquiring = true;
    m_scheduler = std::make_unique<FleetScheduler>(
        count, parallel, [this](int i) { startInquiry(i); },
        [this] {
            for (int i : m_scheduler->notStarted())
                m_scans[std::size_t(i)].error = QStringLiteral("stopped");
            m_inquiring = false;
            emit inquiriesDone();
        });
    if (m_stopStarting)
        m_scheduler->stopStarting();
    else
        m_scheduler->run();
}

void FleetDriver::setFirmwareFiles(std::shared_ptr<FirmwareFiles> files)
{
    if (files)
        m_files = std::move(files);
}

bool FleetDriver::inquiriesFinished() const
{
    return !m_inquiring;
}

void FleetDriver::startInquiry(int index)
{
    Work& w = *m_work[std::size_t(index)];
    w.inquiry = new CameraInquiry(this);
    w.inquiry->useOwnConnections();
    connect(w.inquiry, &CameraInquiry::done, this, [this, index] { inquiryEnded(index); });
    w.inquiry->start(m_scans[std::size_t(index)].address);
}

void FleetDriver::inquiryEnded(int index)
{
    Work& w = *m_work[std::size_t(index)];
    if (!w.inquiry)
        return;
    ScanResult& scan = m_scans[std::size_t(index)];
    scan.ok = w.inquiry->identified();
    scan.camera = w.inquiry->camera();
    scan.error = scan.ok ? QString() : w.inquiry->failureText();
    w.inquiry->disconnect(this);
    w.inquiry->deleteLater();
    w.inquiry = nullptr;
    emit inquiryAnswered(++m_answered, int(m_scans.size()));
    m_scheduler->done(index);
}

// ---- update runs ----

void FleetDriver::update(const std::vector<PlanEntry>& entries, const std::vector<QString>& credentials,
                         const UpdateOptions& options)
{
    m_entries = entries;
    m_credentials = credentials;
    m_credentials.resize(entries.size());
    m_options = options;
    m_reports.clear();
    m_work.clear();
    m_failures = 0;
    m_budgetSpent = false;
    std::vector<int> runs;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        m_reports.push_back(reportFromPlan(entries[i]));
        auto w = std::make_unique<Work>();
        w->status.address = entries[i].scan.address;
        w->status.fileCount = int(entries[i].plan.files.size());
        m_work.push_back(std::move(w));
        if (entries[i].scan.ok && entries[i].plan.valid)
            runs.push_back(int(i));
    }
    for (int i : runs) {
        const CameraPlan& plan = entries[std::size_t(i)].plan;
        for (const PlannedFile& f : plan.files)
            m_work[std::size_t(i)]->planned.push_back(m_files->claim(planFilePath(plan.set.DirPath, f.fileName)));
    }
    m_updating = true;
    // Cameras without a run are done with already.
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!(entries[i].scan.ok && entries[i].plan.valid)) {
            m_reports[i].ended = now();
            finishCamera(int(i));
        }
    }
    // The canary: the first cameras in target order, on their own; the rest wait for them.
    std::vector<int> first;
    m_later.clear();
    for (int i : runs)
        (i < m_options.canary ? first : m_later).push_back(i);
    m_inCanary = m_options.canary > 0;
    startStage(m_inCanary ? first : m_later);
}

bool FleetDriver::updatesFinished() const
{
    return !m_updating;
}

void FleetDriver::startStage(const std::vector<int>& cameras)
{
    m_stage = cameras;
    for (std::size_t k = 0; k < m_stage.size(); ++k)
        m_work[std::size_t(m_stage[k])]->position = int(k);
    m_scheduler = std::make_unique<FleetScheduler>(
        int(m_stage.size()), m_options.parallel, [this](int position) { startRun(m_stage[std::size_t(position)]); },
        // Never from inside the scheduler: the next stage replaces it.
        [this] { QMetaObject::invokeMethod(this, &FleetDriver::stageDone, Qt::QueuedConnection); });
    if (m_stopStarting || m_budgetSpent)
        m_scheduler->stopStarting();
    else
        m_scheduler->run();
}

void FleetDriver::stageDone()
{
    for (int position : m_scheduler->notStarted())
        holdBack(m_stage[std::size_t(position)], m_stopStarting ? FleetEnd::Stopped : FleetEnd::NotStarted);
    if (m_inCanary) {
        m_inCanary = false;
        bool passed = true;
        for (int i = 0; i < m_options.canary && i < int(m_reports.size()); ++i)
            passed = passed && canaryPassed(m_reports[std::size_t(i)]);
        emit canaryDone(passed);
        if (passed && !m_stopStarting && !m_budgetSpent && !m_later.empty()) {
            startStage(std::exchange(m_later, {}));
            return;
        }
        for (int i : std::exchange(m_later, {}))
            holdBack(i, m_stopStarting ? FleetEnd::Stopped : FleetEnd::NotStarted);
    }
    m_scheduler.reset();
    m_updating = false;
    emit updatesDone();
}

void FleetDriver::holdBack(int index, FleetEnd end)
{
    CameraReport& report = m_reports[std::size_t(index)];
    report.end = end;
    report.message = fleetEndMessage(end);
    if (end == FleetEnd::NotStarted)
        report.reason = m_budgetSpent ? QStringLiteral("held back: %1 cameras failed").arg(m_failures)
                                      : QStringLiteral("held back: the canary did not pass");
    report.ended = now();
    finishCamera(index);
}

void FleetDriver::startRun(int index)
{
    Work& w = *m_work[std::size_t(index)];
    const QString& address = m_entries[std::size_t(index)].scan.address;
    m_reports[std::size_t(index)].started = now();
    auto* run = new UpdateRun(w.records.view(), this);
    w.run = run;
    run->setTickIntervals(m_watchdogTickMs, m_resetWaitTickMs);
    run->setLog(cameraLog(index));
    run->setFirmwareFiles(m_files);

    connect(run, &UpdateRun::fileStarted, this, [this, index](int file, int count, const QString& fileName) {
        Work& w = *m_work[std::size_t(index)];
        w.current = file;
        w.posted = false;
        w.upload.start();
        noteFileStarted(m_reports[std::size_t(index)], file);
        w.status.phase = CameraStatus::Phase::Uploading;
        w.status.fileNumber = file + 1;
        w.status.fileCount = count;
        w.status.fileName = fileName;
        w.status.percent = 0;
        publish(index);
    });
    connect(run, &UpdateRun::fileAccepted, this, [this, index] {
        Work& w = *m_work[std::size_t(index)];
        std::vector<ReportedFile>& files = m_reports[std::size_t(index)].files;
        if (w.current >= 0 && w.current < int(files.size())) {
            files[std::size_t(w.current)].uploadSeconds = double(w.upload.nsecsElapsed()) / 1e9;
            noteFileSent(index, w.current);
        }
    });
    connect(run, &UpdateRun::uploadProgress, this, [this, index](qint64 sent, qint64 total) {
        Work& w = *m_work[std::size_t(index)];
        w.posted = w.posted || sent > 0;
        w.status.phase = CameraStatus::Phase::Uploading;
        w.status.percent = total > 0 ? int(qBound(qint64(0), sent * 100 / total, qint64(100))) : -1;
        publish(index);
    });
    connect(run, &UpdateRun::progressChanged, this, [this, index](int percent) {
        Work& w = *m_work[std::size_t(index)];
        // Only the reset wait's progress: the run also shows 0 as each file starts.
        if (!w.run || !w.run->cameraHoldsFile())
            return;
        w.posted = true;
        w.status.phase = CameraStatus::Phase::Restarting;
        w.status.percent = qBound(0, percent, 100);
        publish(index);
    });
    connect(run, &UpdateRun::versionCheckStarted, this, [this, index] {
        Work& w = *m_work[std::size_t(index)];
        w.posted = true;
        w.status.phase = CameraStatus::Phase::CheckingNetwork;
        w.status.percent = -1;
        publish(index);
    });
    connect(run, &UpdateRun::ended, this,
            [this, index](RunEnd end, const QString& message) { runEnded(index, fleetEndOfRun(end), message); });

    vup_file_info set = m_entries[std::size_t(index)].plan.set;
    set.CamIPAddress = address;
    set.Base64 = m_credentials[std::size_t(index)];
    const bool started = run->start(set) == 0;
    w.planned.clear();  // the run's own claims keep what it has still to send
    if (!started && !w.runEnded)
        runEnded(index, FleetEnd::NoUploadOrder, fleetEndMessage(FleetEnd::NoUploadOrder));
}

void FleetDriver::runEnded(int index, FleetEnd end, const QString& message)
{
    Work& w = *m_work[std::size_t(index)];
    if (w.runEnded || !w.run)
        return;
    w.runEnded = true;
    CameraReport& report = m_reports[std::size_t(index)];
    // A stopped run's last file: cut short if the camera held it, else done with if it
    // went out (the check afterwards tells), else never sent. Any other end fails it.
    FileResult current = FileResult::Failed;
    if (end == FleetEnd::Stopped && !w.heldAtStop && !w.run->cameraHoldsFile())
        current = w.posted ? FileResult::Sent : FileResult::NotSent;
    noteRunEnded(report, end, message, w.current, current);
    w.run->disconnect(this);
    w.run->deleteLater();
    w.run = nullptr;

    bool anySent = false;
    for (const ReportedFile& f : report.files)
        anySent = anySent || f.result == FileResult::Sent;
    if (anySent && !m_stopNow)
        startVerification(index);
    else
        finishCamera(index);
}

void FleetDriver::startVerification(int index)
{
    Work& w = *m_work[std::size_t(index)];
    w.status.phase = CameraStatus::Phase::Verifying;
    w.status.percent = -1;
    publish(index);
    w.inquiry = new CameraInquiry(this);
    w.inquiry->useOwnConnections();
    w.inquiry->setLog(cameraLog(index));
    connect(w.inquiry, &CameraInquiry::done, this, [this, index] { verificationEnded(index); });
    w.inquiry->start(m_entries[std::size_t(index)].scan.address);
}

void FleetDriver::verificationEnded(int index)
{
    Work& w = *m_work[std::size_t(index)];
    if (!w.inquiry)
        return;
    noteVerification(m_reports[std::size_t(index)], w.inquiry->identified(), w.inquiry->camera());
    w.inquiry->disconnect(this);
    w.inquiry->deleteLater();
    w.inquiry = nullptr;
    finishCamera(index);
}

void FleetDriver::finishCamera(int index)
{
    Work& w = *m_work[std::size_t(index)];
    if (w.ended)
        return;
    w.ended = true;
    w.planned.clear();
    CameraReport& report = m_reports[std::size_t(index)];
    if (!report.ended.isValid())
        report.ended = now();
    w.status.phase = CameraStatus::Phase::Ended;
    w.status.end = report.end;
    w.status.message = report.message.isEmpty() ? report.reason : report.message;
    w.status.verified = report.verified;
    publish(index);
    w.log.reset();
    emit cameraEnded(index);
    if (w.position < 0 || !m_scheduler)
        return;
    // The budget is judged before the next camera can start in this one's place.
    if (cameraFailed(report) && ++m_failures >= m_options.maxFailures && m_options.maxFailures > 0 && !m_budgetSpent) {
        m_budgetSpent = true;
        m_scheduler->stopStarting();
        emit budgetSpent(m_failures);
    }
    m_scheduler->done(w.position);
}

kelvora::DebugLog FleetDriver::cameraLog(int index)
{
    kelvora::DebugLog log;
    Work& w = *m_work[std::size_t(index)];
    if (m_options.logDir.isEmpty())
        return log;
    if (!w.log) {
        auto file = std::make_shared<CameraLog>();
        QString error;
        if (!file->open(m_options.logDir, m_entries[std::size_t(index)].scan.address, &error))
            return log;
        for (const QString& secret : std::as_const(m_options.secrets))
            file->addSecret(secret);
        w.log = std::move(file);
    }
    log.setSink([sink = w.log](const QString& line) { sink->write(line); });
    return log;
}

void FleetDriver::noteFileSent(int index, int file)
{
    ReportedFile& f = m_reports[std::size_t(index)].files[std::size_t(file)];
    const QString path = planFilePath(m_entries[std::size_t(index)].plan.set.DirPath, f.fileName);
    // The copy the upload went out from is held: nothing is read here, and its digest is
    // taken once, for every camera that is sent it.
    const FirmwareFiles::Copy bytes = m_files->held(path);
    if (!bytes)
        return;
    f.size = bytes->size();
    f.sha256 = QString::fromLatin1(bytes->sha256().toHex());
}

void FleetDriver::publish(int index)
{
    emit statusChanged(m_work[std::size_t(index)]->status);
}

// ---- Ctrl-C ----

void FleetDriver::stopStarting()
{
    if (m_stopStarting)
        return;
    m_stopStarting = true;
    if (m_scheduler)
        m_scheduler->stopStarting();
    for (const auto& w : m_work) {
        if (w->run)
            w->run->stopPosting();
    }
}

void FleetDriver::stopNow()
{
    stopStarting();
    if (m_stopNow)
        return;
    m_stopNow = true;
    for (int i = 0; i < int(m_work.size()); ++i) {
        Work& w = *m_work[std::size_t(i)];
        if (w.run) {
            w.heldAtStop = w.run->cameraHoldsFile();
            w.run->stop();
            // Whatever the run does after this, the camera is "stopped" now.
            runEnded(i, FleetEnd::Stopped, QString());
        } else if (w.inquiry) {
            // Let go of its requests first: an answer or bound that came before the
            // deferred delete would otherwise still be judged, and written to the log.
            CameraInquiry* inquiry = std::exchange(w.inquiry, nullptr);
            inquiry->disconnect(this);
            inquiry->abort();
            inquiry->deleteLater();
            if (m_inquiring) {
                m_scans[std::size_t(i)].error = QStringLiteral("stopped");
                m_scheduler->done(i);
            } else {
                noteVerification(m_reports[std::size_t(i)], false, cam_info());
                finishCamera(i);
            }
        }
    }
}
