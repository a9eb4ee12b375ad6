#ifndef KELVORA_FLEET_FLEETDRIVER_H
#define KELVORA_FLEET_FLEETDRIVER_H

// Drives the camera inquiry and the update run for many cameras, at most N at once, and
// collects what each camera answered and how its run ended. The inquiry and the run are the
// window's own objects (camera/camerainquiry.h, update/updaterun.h; they appear only in
// fleetdriver.cpp); the order of starts, the canary and the failure budget are decided here
// with the rules of fleet/fleetpolicy.h. Each camera's run sends the copies its plan judged
// (fleet/fleetplan.h), against the SHA256SUMS the plan read: nothing is read from the folder
// once the plan is made. Widget-free: kelvora-fleet, the soak and the bench drive it and
// draw what it publishes (statusChanged) as they like.

#include "common/debuglog.h"
#include "firmware/sha256sums.h"
#include "fleet/camerastatus.h"
#include "fleet/fleetreport.h"
#include "fleet/fleetscheduler.h"

#include <QObject>
#include <QStringList>

#include <memory>
#include <vector>

class CameraLog;

// How an update goes about the cameras.
struct UpdateOptions {
    int parallel = 8;      // runs at once
    int canary = 0;        // the first N cameras with files to send first, alone; 0: none
    int maxFailures = 0;   // no camera starts once this many have failed; 0: no limit
    QString logDir;        // each camera's debug log in a file of its own; empty: none
    bool appendLogs = false;  // a resumed update: logs go on after a line that marks the new run
    QStringList secrets;   // never written to a log file (each is masked)
};

class FleetDriver : public QObject
{
    Q_OBJECT

public:
    explicit FleetDriver(QObject* parent = nullptr);
    ~FleetDriver() override;

    // Asks every address, at most `parallel` at once; inquiriesDone() once each has
    // answered or failed (maybe before this returns: see inquiriesFinished). A camera with a
    // come-back time (seconds, by position; none when the list is short) that does not answer
    // is asked again each reset-wait tick until it answers or that time has passed: a camera
    // an earlier run left writing its firmware is waited for as that run would have waited.
    void inquire(const QStringList& addresses, int parallel, const std::vector<int>& comeBackSeconds = {});
    bool inquiriesFinished() const;
    const std::vector<ScanResult>& scans() const { return m_scans; }

    // One update run per valid plan, each followed by a new inquiry that checks the sent
    // versions; updatesDone() when every camera has ended. `entries` are every camera of
    // the update in target order, those a resumed update carries over among them;
    // `credentials` holds each entry's Basic credential (the same order; empty for an entry
    // without a run). `sums` is the folder's SHA256SUMS as the plans read it.
    void update(std::vector<PlanEntry> entries, const std::vector<QString>& credentials, const UpdateOptions& options,
                const FolderSums& sums = {});
    bool updatesFinished() const;
    // Every camera of the update, in the entries' order.
    const std::vector<CameraReport>& reports() const { return m_reports; }

    // The runs' ticks: one second each unless a test or the soak plays them faster.
    void setTickIntervals(int watchdogMs, int resetWaitMs)
    {
        m_watchdogTickMs = watchdogMs;
        m_resetWaitTickMs = resetWaitMs;
    }

    // Ctrl-C: first no camera starts and no file is posted any more; then everything stops.
    void stopStarting();
    void stopNow();
    bool stopping() const { return m_stopStarting; }

signals:
    void statusChanged(const CameraStatus& status);
    void inquiryAnswered(int answered, int total);
    // The camera at `index` of the inquiry has answered or failed for good (scans()[index]).
    void cameraAnswered(int index);
    void inquiriesDone();
    // A camera's report has changed in a way a journal must keep at once: a file's upload
    // was answered (reports()[index].files), or the camera ended.
    void reportChanged(int index);
    // A camera's report has reached its end (reports()[index]); also for the cameras that
    // end without a run as the update begins.
    void cameraEnded(int index);
    // The canary has ended; `passed` tells whether the others start.
    void canaryDone(bool passed);
    // The failure budget is spent: no further camera starts.
    void budgetSpent(int failures);
    void updatesDone();

private:
    struct Work;

    void startInquiry(int index);
    void inquiryEnded(int index);
    void inquirySettled(int index);
    void startStage(const std::vector<int>& cameras);
    void stageDone();
    void startRun(int index);
    // The run's events, each for the camera at `index`.
    void fileStarted(int index, int file, int count, const QString& fileName);
    void fileAccepted(int index);
    void uploadProgress(int index, qint64 sent, qint64 total);
    void resetWaitProgress(int index, int percent);
    void versionCheckStarted(int index);
    void runEnded(int index, FleetEnd end, const QString& message, const QString& detail);
    void startVerification(int index);
    void verificationEnded(int index);
    void finishCamera(int index);
    void holdBack(int index, const QString& reason);
    void publish(int index);
    // The camera's debug log: its own file under the log folder, or none.
    kelvora::DebugLog cameraLog(int index);

    std::vector<ScanResult> m_scans;
    std::vector<int> m_comeBack;  // by inquiry position: seconds a silent camera is waited for
    std::vector<CameraReport> m_reports;
    std::vector<PlanEntry> m_entries;
    std::vector<QString> m_credentials;
    std::vector<std::unique_ptr<Work>> m_work;
    std::vector<int> m_stage;     // cameras of the stage under way, in start order
    std::vector<int> m_later;     // cameras after the canary
    FolderSums m_sums;
    int m_watchdogTickMs = 1000;
    int m_resetWaitTickMs = 1000;
    int m_answered = 0;
    int m_failures = 0;
    UpdateOptions m_options;
    bool m_stopStarting = false;
    bool m_stopNow = false;
    bool m_budgetSpent = false;
    bool m_inquiring = false;
    bool m_updating = false;
    bool m_inCanary = false;
    std::unique_ptr<FleetScheduler> m_scheduler;
};

#endif
