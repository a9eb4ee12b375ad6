#ifndef KELVORA_FLEET_FLEETDRIVER_H
#define KELVORA_FLEET_FLEETDRIVER_H

// Drives the camera inquiry and the update run for many cameras, at most N at once, and
// collects what each camera answered and how its run ended. The inquiry and the run are the
// window's own objects (camera/camerainquiry.h, update/updaterun.h; they appear only in
// fleetdriver.cpp); the order of starts, the canary and the failure budget are decided here
// with the rules of fleet/fleetpolicy.h. Widget-free: kelvora-fleet, the soak and the bench
// drive it and draw what it publishes (statusChanged) as they like.

#include "common/debuglog.h"
#include "fleet/camerastatus.h"
#include "fleet/fleetreport.h"
#include "fleet/fleetscheduler.h"
#include "update/firmwarefiles.h"

#include <QObject>
#include <QStringList>

#include <memory>
#include <vector>

class CameraLog;

// How an update goes about the cameras.
struct UpdateOptions {
    int parallel = 8;      // runs at once
    int canary = 0;        // the first N cameras (in target order) first, alone; 0: none
    int maxFailures = 0;   // no camera starts once this many have failed; 0: no limit
    QString logDir;        // each camera's debug log in a file of its own; empty: none
    QStringList secrets;   // never written to a log file (each is masked)
};

class FleetDriver : public QObject
{
    Q_OBJECT

public:
    explicit FleetDriver(QObject* parent = nullptr);
    ~FleetDriver() override;

    // Asks every address, at most `parallel` at once; inquiriesDone() once each has
    // answered or failed (maybe before this returns: see inquiriesFinished).
    void inquire(const QStringList& addresses, int parallel);
    bool inquiriesFinished() const;
    const std::vector<ScanResult>& scans() const { return m_scans; }

    // One update run per valid plan, each followed by a new inquiry that checks the sent
    // versions; updatesDone() when every camera has ended. `credentials` holds each entry's
    // Basic credential (the same order; empty for an entry without a run).
    void update(const std::vector<PlanEntry>& entries, const std::vector<QString>& credentials,
                const UpdateOptions& options);
    bool updatesFinished() const;
    const std::vector<CameraReport>& reports() const { return m_reports; }

    // The runs' ticks: one second each unless a test or the soak plays them faster.
    void setTickIntervals(int watchdogMs, int resetWaitMs)
    {
        m_watchdogTickMs = watchdogMs;
        m_resetWaitTickMs = resetWaitMs;
    }
    // How many firmware files were read, and their bytes: each once, however many cameras.
    const FirmwareFiles& firmwareFiles() const { return *m_files; }
    // The files the runs send from: the folder's own (FirmwareFolder::files()), so that what
    // the plan judged against SHA256SUMS is what goes out, read and hashed once.
    void setFirmwareFiles(std::shared_ptr<FirmwareFiles> files);

    // Ctrl-C: first no camera starts and no file is posted any more; then everything stops.
    void stopStarting();
    void stopNow();
    bool stopping() const { return m_stopStarting; }

signals:
    void statusChanged(const CameraStatus& status);
    void inquiryAnswered(int answered, int total);
    void inquiriesDone();
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
    void startStage(const std::vector<int>& cameras);
    void stageDone();
    void startRun(int index);
    void runEnded(int index, FleetEnd end, const QString& message);
    void startVerification(int index);
    void verificationEnded(int index);
    void finishCamera(int index);
    void holdBack(int index, FleetEnd end);
    void publish(int index);
    // The size and SHA-256 of the copy a camera has just been sent, for its report.
    void noteFileSent(int index, int file);
    // The camera's debug log: its own file under the log folder, or none.
    kelvora::DebugLog cameraLog(int index);

    std::vector<ScanResult> m_scans;
    std::vector<CameraReport> m_reports;
    std::vector<PlanEntry> m_entries;
    std::vector<QString> m_credentials;
    std::vector<std::unique_ptr<Work>> m_work;
    std::vector<int> m_stage;     // cameras of the stage under way, in start order
    std::vector<int> m_later;     // cameras after the canary
    std::shared_ptr<FirmwareFiles> m_files = std::make_shared<FirmwareFiles>();  // each file once, for every run
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
