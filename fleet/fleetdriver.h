#ifndef KELVORA_FLEET_FLEETDRIVER_H
#define KELVORA_FLEET_FLEETDRIVER_H

// Drives the camera inquiry and the update run for many cameras, at most N at once, and
// collects what each camera answered and how its run ended. Widget-free. The objects it
// drives (camera/camerainquiry.h, update/updaterun.h) appear only in fleetdriver.cpp.

#include "common/debuglog.h"
#include "fleet/camerastatus.h"
#include "fleet/fleetreport.h"
#include "fleet/fleetscheduler.h"
#include "update/firmwarefiles.h"

#include <QObject>
#include <QStringList>

#include <memory>
#include <vector>

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

    // One update run per valid plan, at most `parallel` at once, each followed by a new
    // inquiry that checks the sent versions; updatesDone() when every camera has ended.
    // `credential` is the Basic credential; `secrets` never reach a log file. With an
    // empty `logDir` no log is written.
    void update(const std::vector<PlanEntry>& entries, int parallel, const QString& credential,
                const QStringList& secrets, const QString& logDir);
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

    // Ctrl-C: first no camera starts and no file is posted any more; then everything stops.
    void stopStarting();
    void stopNow();
    bool stopping() const { return m_stopStarting; }

signals:
    void statusChanged(const CameraStatus& status);
    void inquiryAnswered(int answered, int total);
    void inquiriesDone();
    void updatesDone();

private:
    struct Work;

    void startInquiry(int index);
    void inquiryEnded(int index);
    void startRun(int index);
    void runEnded(int index, FleetEnd end, const QString& message);
    void startVerification(int index);
    void verificationEnded(int index);
    void cameraEnded(int index);
    void publish(int index);
    // The camera's debug log: its own file under the log folder, or none.
    kelvora::DebugLog cameraLog(int index);

    std::vector<ScanResult> m_scans;
    std::vector<CameraReport> m_reports;
    std::vector<PlanEntry> m_entries;
    std::vector<std::unique_ptr<Work>> m_work;
    std::vector<int> m_runIndex;  // camera of each scheduler position (update)
    std::vector<int> m_position;  // scheduler position of each camera; -1 without a run
    std::shared_ptr<FirmwareFiles> m_files = std::make_shared<FirmwareFiles>();  // each file once, for every run
    int m_watchdogTickMs = 1000;
    int m_resetWaitTickMs = 1000;
    int m_answered = 0;
    QString m_credential;
    QStringList m_secrets;
    QString m_logDir;
    bool m_stopStarting = false;
    bool m_stopNow = false;
    bool m_inquiring = false;
    bool m_updating = false;
    std::unique_ptr<FleetScheduler> m_scheduler;
};

#endif
