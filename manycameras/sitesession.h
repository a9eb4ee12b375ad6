#ifndef KELVORA_MANYCAMERAS_SITESESSION_H
#define KELVORA_MANYCAMERAS_SITESESSION_H

// What the many-camera window does for its operator, without its widgets: asks the targets
// (fleet/fleetdriver.h), plans every camera that answered from a firmware folder
// (fleet/fleetplan.h), and updates the ticked cameras as one many-camera update
// (fleet/fleetupdate.h: its locks, its report written as it goes, the history), or carries
// on from a report as a resumed update. Each step's refusals are the engine's, worded as
// kelvora-fleet words them (fleet/updatesetup.h). The questions (credentials, the
// confirmation, whether to stop watching) are the window's: the session says when one is
// due and waits for the answer. The table (manycameras/cameratablemodel.h) is fed as the
// engine tells.

#include "fleet/credentialsfile.h"
#include "fleet/fleetplan.h"
#include "fleet/fleetupdate.h"
#include "fleet/updatesetup.h"
#include "manycameras/cameratablemodel.h"
#include "update/updatelock.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QProcessEnvironment>
#include <QString>

#include <memory>
#include <optional>

class FleetDriver;

class SiteSession : public QObject
{
    Q_OBJECT

public:
    enum class Stage { Idle, Scanning, Asking, Confirming, Updating };

    explicit SiteSession(const QProcessEnvironment& environment, QObject* parent = nullptr);
    ~SiteSession() override;

    CameraTableModel* model() { return &m_model; }
    Stage stage() const { return m_stage; }

    // Asks every camera of the targets, at most `parallel` at once: false with *why, as
    // kelvora-fleet words it, when the targets are bad (nothing is asked then).
    bool scan(const QString& targets, const QString& excludes, int parallel, QString* why);

    // Reads the folder (list file, SHA256SUMS) and plans every camera that answered.
    bool openFolder(const QString& path, QString* why);
    QString folderPath() const;
    void setChoice(const PlanChoice& choice);
    PlanChoice choice() const { return m_choice; }

    // The cameras' own credentials, as --credentials reads them; an empty path drops them.
    bool setCredentialsFile(const QString& path, QString* why);
    const CredentialsFile& credentialsFile() const { return m_credentialsFile; }

    // Whether the ticked cameras (or those of a report to resume) need the user ID and
    // password for all: some have no entry in the credentials file.
    bool needsCredentials() const;
    bool needsCredentialsToResume(const FleetReport& earlier) const;

    // Starts an update of the ticked cameras: the locks (a camera or the report another
    // process holds refuses it), the report's first write, then the cameras asked again and
    // planned; confirmationDue() or refused() follows. False with *why for what is refused
    // before anything is locked.
    bool update(const Credentials& common, const UpdateOptions& options, QString* why);
    // The same for the cameras of an earlier report, as --resume carries on from it.
    bool resume(const QString& reportPath, const Credentials& common, QString* why);
    // Reads a report to resume: false with *why when it cannot be read or is none of an update.
    static bool readResumable(const QString& path, FleetReport* report, QString* why);
    // The answer to confirmationDue().
    void confirm(bool go);
    // No camera starts and no file is sent any more; cameras that hold a file are followed.
    void stop();
    // Stops following them too.
    void stopNow();
    bool stopping() const;

    QString reportPath() const { return m_reportPath; }
    QString logFolder() const { return m_logFolder; }
    // A camera's trace file of the latest update; empty when it has none.
    QString traceFile(const QString& address) const;
    // The update's report as it stands (the latest update's, once ended).
    FleetReport report() const;
    bool hasReport() const { return m_update != nullptr || m_lastReport.has_value(); }
    qint64 elapsedMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }

    // Ticks of the runs; tests play them faster.
    void setTickIntervals(int watchdogMs, int resetWaitMs);

signals:
    void scanProgress(int answered, int total);
    void scanDone();
    // The plans are made: `question` says what would happen ("Send 14 files to 7 cameras? ...").
    void confirmationDue(const QString& question);
    // The update cannot start: one line each; nothing was sent.
    void refused(const QString& why);
    void notice(const QString& text);
    void updateFinished(const QString& summary);
    void stageChanged(Stage stage);

private:
    void setStage(Stage stage);
    void planAll();
    void planOne(const ScanResult& scan);
    bool startUpdate(FleetUpdateSettings settings, const Credentials& common, QString* why);
    void takeLocks();
    void releaseLocks(const QString& summary);
    void refuse(const QString& why);
    void asked();
    void ended();
    FirmwareFolder* folderFor(const QString& path, QString* why);

    QProcessEnvironment m_environment;
    CameraTableModel m_model;
    Stage m_stage = Stage::Idle;
    std::unique_ptr<FleetDriver> m_scanner;
    std::unique_ptr<FirmwareFolder> m_folder;
    std::unique_ptr<FirmwareFolder> m_resumeFolder;
    PlanChoice m_choice;
    CredentialsFile m_credentialsFile;
    Credentials m_common;
    std::vector<CameraCredential> m_credentials;  // by entry of the update's plans
    QHash<QString, CameraPlan> m_plans;  // the scan's plans, by address
    std::unique_ptr<FleetUpdate> m_update;
    std::optional<FleetReport> m_lastReport;
    std::vector<UpdateLock> m_releasing;  // the ended update's locks, let go of a part a turn
    QString m_reportPath;
    QString m_logFolder;
    QElapsedTimer m_clock;
    int m_watchdogTickMs = 1000;
    int m_resetWaitTickMs = 1000;
};

#endif
