#include "fleet/fleetdriver.h"

#include "fleet/cameralog.h"
#include "fleet/fleetpolicy.h"

#include "camera/camerainquiry.h"
#include "update/firmwarefiles.h"
#include "update/updaterun.h"
#include "update/uploadplan.h"

#include <QElapsedTimer>
#include <algorithm>
#include <QTimer>

#include <utility>

// One camera of the driver: its inquiry or run under way, and where it stands. The run's
// signals reach the driver through it, each with the camera's index.
struct FleetDriver::Work : QObject {
    Work(FleetDriver* owner, int position)
        : driver(owner)
        , index(position)
    {
    }

    FleetDriver* driver;
    int index;
    CameraInquiry* inquiry = nullptr;  // the inquiry under way (first or after the run)
    UpdateRun* run = nullptr;
    OwnRunRecords records;             // the run's own, as the window's are process-wide
    // Shared with the sinks of the run's and the inquiries' logs: a handler that still
    // writes after the camera has ended writes into a log that is still there.
    std::shared_ptr<CameraLog> log;
    CameraStatus status;
    QElapsedTimer upload;  // since the current file was posted
    QElapsedTimer restart; // since the camera took the file `restarting`
    int restarting = -1;   // the report's file whose restart is being timed; -1 when none
    int current = -1;    // 0-based position of the file the run is on
    int fileOffset = 0;  // files of the report before the run's first: taken in an earlier run
    int position = -1;   // in the stage's scheduler; -1 without a run
    int waited = 0;      // ticks a silent camera has been waited for
    bool posted = false; // the current file has gone out (bytes sent, or the wait begun)
    bool heldAtStop = false;  // the camera held a file when everything was stopped
    bool runOver = false;
    bool ended = false;  // the camera is done with, in this stage

    void fileStarted(int file, int count, const QString& fileName) { driver->fileStarted(index, file, count, fileName); }
    void fileAccepted() { driver->fileAccepted(index); }
    void uploadProgress(qint64 sent, qint64 total) { driver->uploadProgress(index, sent, total); }
    void resetWaitProgress(int percent) { driver->resetWaitProgress(index, percent); }
    void versionCheckStarted() { driver->versionCheckStarted(index); }
    void runEnded(RunEnd end, const QString& message)
    {
        driver->runEnded(index, fleetEndOfRun(end), message, run ? run->failureDetail() : QString());
    }
    void inquiryDone() { driver->inquiryEnded(index); }
    void verificationDone() { driver->verificationEnded(index); }

    // The camera is back from the restart the file it took began: its next file starts, or
    // the run ends (it came back after the last, or never did).
    void restartOver(CameraReport& report)
    {
        if (restarting >= 0 && restarting < int(report.files.size()))
            report.files[std::size_t(restarting)].restartSeconds = double(restart.nsecsElapsed()) / 1e9;
        restarting = -1;
    }
};

namespace {

// Cameras that start in one turn of the event loop: each start opens connections and a log
// file, and hundreds at once would hold a window's loop for a quarter of a second.
constexpr int kStartsPerTurn = 8;

FleetScheduler::Later later(QObject* context)
{
    return [context](std::function<void()> fill) { QTimer::singleShot(0, context, std::move(fill)); };
}

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
            w->inquiry->disconnect(w.get());
        if (w->run)
            w->run->disconnect(w.get());
    }
}

// ---- inquiries ----

void FleetDriver::inquire(const QStringList& addresses, int parallel, const std::vector<int>& comeBackSeconds)
{
    const int count = int(addresses.size());
    m_scans.assign(std::size_t(count), ScanResult());
    m_comeBack = comeBackSeconds;
    m_comeBack.resize(std::size_t(count), 0);
    m_work.clear();
    for (int i = 0; i < count; ++i) {
        m_scans[std::size_t(i)].address = addresses[i];
        m_work.push_back(std::make_unique<Work>(this, i));
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
    m_scheduler->setBurst(kStartsPerTurn, later(this));
    if (m_stopStarting)
        m_scheduler->stopStarting();
    else
        m_scheduler->run();
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
    connect(w.inquiry, &CameraInquiry::done, &w, &Work::inquiryDone);
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
    w.inquiry->disconnect(&w);
    w.inquiry->deleteLater();
    w.inquiry = nullptr;
    // Not back yet from what an earlier run sent it: asked again at the next tick, as the run
    // would have asked, until its time (a tick a second) is up. Its slot stays taken meanwhile.
    if (!scan.ok && !m_stopStarting && w.waited < m_comeBack[std::size_t(index)]) {
        ++w.waited;
        QTimer::singleShot(m_resetWaitTickMs, &w, [this, index] {
            if (m_stopStarting)
                inquirySettled(index);
            else
                startInquiry(index);
        });
        return;
    }
    inquirySettled(index);
}

void FleetDriver::inquirySettled(int index)
{
    Work& w = *m_work[std::size_t(index)];
    ScanResult& scan = m_scans[std::size_t(index)];
    if (!scan.ok && w.waited > 0)
        scan.error += QStringLiteral(" (not back %1 s after the earlier run's last file)").arg(w.waited);
    emit cameraAnswered(index);
    emit inquiryAnswered(++m_answered, int(m_scans.size()));
    m_scheduler->done(index);
}

// ---- update runs ----

void FleetDriver::update(std::vector<PlanEntry> entries, const std::vector<QString>& credentials,
                         const UpdateOptions& options, const FolderSums& sums)
{
    m_entries = std::move(entries);
    m_credentials = credentials;
    m_credentials.resize(m_entries.size());
    m_options = options;
    m_sums = sums;
    m_reports.clear();
    m_work.clear();
    m_failures = 0;
    m_budgetSpent = false;
    std::vector<int> runs;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const PlanEntry& entry = m_entries[i];
        m_reports.push_back(reportFromPlan(entry));
        auto w = std::make_unique<Work>(this, int(i));
        w->status.address = entry.carriedOver ? entry.earlier.address : entry.scan.address;
        w->status.fileCount = int(entry.plan.files.size());
        w->fileOffset = int(entry.takenBefore.size());
        m_work.push_back(std::move(w));
        if (!entry.carriedOver && entry.scan.ok && entry.plan.valid)
            runs.push_back(int(i));
    }
    m_updating = true;
    // Cameras without a run are done with already.
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].carriedOver)
            finishCamera(int(i));
        else if (!(m_entries[i].scan.ok && m_entries[i].plan.valid)) {
            m_reports[i].ended = now();
            finishCamera(int(i));
        }
    }
    // The canary: the first cameras with files to send, on their own; the rest wait for them.
    const std::vector<int> canary = canaryCameras(m_entries, m_options.canary);
    for (int i : canary)
        m_reports[std::size_t(i)].canary = true;
    m_later.clear();
    for (int i : runs) {
        if (std::find(canary.begin(), canary.end(), i) == canary.end())
            m_later.push_back(i);
    }
    m_inCanary = !canary.empty();
    startStage(m_inCanary ? canary : std::exchange(m_later, {}));
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
    m_scheduler->setBurst(kStartsPerTurn, later(this));
    if (m_stopStarting || m_budgetSpent)
        m_scheduler->stopStarting();
    else
        m_scheduler->run();
}

void FleetDriver::stageDone()
{
    const auto heldBackWhy = [this](const QString& otherwise) {
        return m_stopStarting ? QStringLiteral("stopped before it started")
            : m_budgetSpent   ? QStringLiteral("held back: %1 cameras failed").arg(m_failures)
                              : otherwise;
    };
    for (int position : m_scheduler->notStarted())
        holdBack(m_stage[std::size_t(position)], heldBackWhy(QString()));
    if (m_inCanary) {
        m_inCanary = false;
        bool passed = true;
        for (int i : m_stage)
            passed = passed && canaryPassed(m_reports[std::size_t(i)]);
        emit canaryDone(passed);
        if (passed && !m_stopStarting && !m_budgetSpent && !m_later.empty()) {
            startStage(std::exchange(m_later, {}));
            return;
        }
        for (int i : std::exchange(m_later, {}))
            holdBack(i, heldBackWhy(QStringLiteral("held back: the canary did not pass")));
    }
    m_scheduler.reset();
    m_updating = false;
    emit updatesDone();
}

void FleetDriver::holdBack(int index, const QString& reason)
{
    CameraReport& report = m_reports[std::size_t(index)];
    report.end = FleetEnd::NotStarted;
    report.message = fleetEndMessage(FleetEnd::NotStarted);
    report.reason = reason;
    report.ended = now();
    finishCamera(index);
}

void FleetDriver::startRun(int index)
{
    Work& w = *m_work[std::size_t(index)];
    PlanEntry& entry = m_entries[std::size_t(index)];
    m_reports[std::size_t(index)].started = now();
    auto* run = new UpdateRun(w.records.view(), this);
    w.run = run;
    run->setTickIntervals(m_watchdogTickMs, m_resetWaitTickMs);
    run->setLog(cameraLog(index));
    // The run holds the plan's copies from here on, each until it is posted.
    UpdateRun::JudgedFiles judged;
    judged.sums = m_sums;
    for (PlannedFile& f : entry.plan.files)
        judged.copies.insert(f.fileName, std::exchange(f.copy, nullptr));
    run->setJudgedFiles(std::move(judged));

    connect(run, &UpdateRun::fileStarted, &w, &Work::fileStarted);
    connect(run, &UpdateRun::fileAccepted, &w, &Work::fileAccepted);
    connect(run, &UpdateRun::uploadProgress, &w, &Work::uploadProgress);
    connect(run, &UpdateRun::progressChanged, &w, &Work::resetWaitProgress);
    connect(run, &UpdateRun::versionCheckStarted, &w, &Work::versionCheckStarted);
    connect(run, &UpdateRun::ended, &w, &Work::runEnded);

    vup_file_info set = entry.plan.set;
    set.CamIPAddress = entry.scan.address;
    set.Base64 = m_credentials[std::size_t(index)];
    const bool started = run->start(set) == 0;
    if (!started && !w.runOver)
        runEnded(index, FleetEnd::NoUploadOrder, fleetEndMessage(FleetEnd::NoUploadOrder), run->failureDetail());
}

void FleetDriver::fileStarted(int index, int file, int count, const QString& fileName)
{
    Work& w = *m_work[std::size_t(index)];
    w.restartOver(m_reports[std::size_t(index)]);
    w.current = file;
    w.posted = false;
    w.upload.start();
    noteFileStarted(m_reports[std::size_t(index)], w.fileOffset + file);
    w.status.phase = CameraStatus::Phase::Uploading;
    w.status.fileNumber = file + 1;
    w.status.fileCount = count;
    w.status.fileName = fileName;
    w.status.percent = 0;
    publish(index);
}

void FleetDriver::fileAccepted(int index)
{
    Work& w = *m_work[std::size_t(index)];
    std::vector<ReportedFile>& files = m_reports[std::size_t(index)].files;
    const int at = w.fileOffset + w.current;
    if (w.current >= 0 && at < int(files.size())) {
        ReportedFile& f = files[std::size_t(at)];
        f.uploadSeconds = double(w.upload.nsecsElapsed()) / 1e9;
        f.accepted = true;
        f.result = FileResult::Sent;
        w.restarting = at;
        w.restart.start();
    }
    // Kept at once: a run killed while the camera writes this file must not send it again.
    emit reportChanged(index);
}

void FleetDriver::uploadProgress(int index, qint64 sent, qint64 total)
{
    Work& w = *m_work[std::size_t(index)];
    w.posted = w.posted || sent > 0;
    w.status.phase = CameraStatus::Phase::Uploading;
    w.status.percent = total > 0 ? int(qBound(qint64(0), sent * 100 / total, qint64(100))) : -1;
    publish(index);
}

void FleetDriver::resetWaitProgress(int index, int percent)
{
    Work& w = *m_work[std::size_t(index)];
    // Only the reset wait's progress: the run also shows 0 as each file starts.
    if (!w.run || !w.run->cameraHoldsFile())
        return;
    w.posted = true;
    w.status.phase = CameraStatus::Phase::Restarting;
    w.status.percent = qBound(0, percent, 100);
    publish(index);
}

void FleetDriver::versionCheckStarted(int index)
{
    Work& w = *m_work[std::size_t(index)];
    w.posted = true;
    w.status.phase = CameraStatus::Phase::CheckingNetwork;
    w.status.percent = -1;
    publish(index);
}

void FleetDriver::runEnded(int index, FleetEnd end, const QString& message, const QString& detail)
{
    Work& w = *m_work[std::size_t(index)];
    if (w.runOver || !w.run)
        return;
    w.runOver = true;
    CameraReport& report = m_reports[std::size_t(index)];
    w.restartOver(report);
    // A stopped run's last file: cut short if the camera held it, else done with if it
    // went out (the check afterwards tells), else never sent. Any other end fails it.
    FileResult current = FileResult::Failed;
    if (end == FleetEnd::Stopped && !w.heldAtStop && !w.run->cameraHoldsFile())
        current = w.posted ? FileResult::Sent : FileResult::NotSent;
    noteRunEnded(report, end, message, w.current < 0 ? -1 : w.fileOffset + w.current, current);
    if (end != FleetEnd::Completed && end != FleetEnd::Stopped && !detail.isEmpty())
        report.reason = detail;
    w.run->disconnect(&w);
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
    m_reports[std::size_t(index)].verificationStarted = now();
    w.inquiry = new CameraInquiry(this);
    w.inquiry->useOwnConnections();
    w.inquiry->setLog(cameraLog(index));
    connect(w.inquiry, &CameraInquiry::done, &w, &Work::verificationDone);
    w.inquiry->start(m_entries[std::size_t(index)].scan.address);
}

void FleetDriver::verificationEnded(int index)
{
    Work& w = *m_work[std::size_t(index)];
    if (!w.inquiry)
        return;
    noteVerification(m_reports[std::size_t(index)], w.inquiry->identified(), w.inquiry->camera());
    w.inquiry->disconnect(&w);
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
    // A camera that never starts lets go of the copies its plan held for it.
    for (PlannedFile& f : m_entries[std::size_t(index)].plan.files)
        f.copy.reset();
    CameraReport& report = m_reports[std::size_t(index)];
    if (!report.ended.isValid())
        report.ended = now();
    w.status.phase = CameraStatus::Phase::Ended;
    w.status.end = report.end;
    w.status.message = report.message.isEmpty() ? report.reason : report.message;
    w.status.verified = report.verified;
    publish(index);
    w.log.reset();
    emit reportChanged(index);
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
        const CameraLog::Opening opening = m_options.appendLogs ? CameraLog::Opening::Resume : CameraLog::Opening::Fresh;
        if (!file->open(m_options.logDir, m_entries[std::size_t(index)].scan.address, opening, &error))
            return log;
        for (const QString& secret : std::as_const(m_options.secrets))
            file->addSecret(secret);
        w.log = std::move(file);
    }
    log.setSink([sink = w.log](const QString& line) { sink->write(line); });
    return log;
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
            runEnded(i, FleetEnd::Stopped, QString(), QString());
        } else if (w.inquiry) {
            // Let go of its requests first: an answer or bound that came before the
            // deferred delete would otherwise still be judged, and written to the log.
            CameraInquiry* inquiry = std::exchange(w.inquiry, nullptr);
            inquiry->disconnect(&w);
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
