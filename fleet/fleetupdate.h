#ifndef KELVORA_FLEET_FLEETUPDATE_H
#define KELVORA_FLEET_FLEETUPDATE_H

// One update of many cameras from a firmware folder, from its locks to its last record, as
// every front end carries it out: take the locks and write the report before anything is
// asked (fleet/updaterecord.h), ask the cameras (a resumed update: only those the earlier
// report left something to do for, waiting for any it left writing its firmware), plan each
// from its answer, and run the plans on the driver (fleet/fleetdriver.h), the report kept
// as each file is answered and each camera ends. A resumed update never sends a camera a
// file it took before (fleet/fleetpolicy.h). Between the steps the front end shows what it
// likes and asks what it must (the credentials, a question before sending): kelvora-fleet
// on a terminal, a window with its widgets. Widget-free.

#include "fleet/fleetdriver.h"
#include "fleet/fleetplan.h"
#include "fleet/fleetreport.h"
#include "fleet/updaterecord.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

struct FleetUpdateSettings {
    QStringList addresses;   // every camera, in target order, normal form, each once
    PlanChoice choice;       // as asked (a resumed update: the report's unless given anew)
    UpdateOptions options;   // runs at once, canary, failure budget, logs, secrets
    int inquiries = 512;     // inquiries at once
    QString lockFolder;      // update/updatelock.h
    QString reportPath;      // empty: no report
    QString historyPath;     // empty: no history
    RunInfo run;             // tool and version; folder, choice, counts and times are filled in
    std::optional<FleetReport> earlier;  // the report a resumed update carries on from
};

// The credential a camera's run is asked with, and where it came from ("file line 7").
struct CameraCredential {
    QString basic;
    QString source;
};

class FleetUpdate : public QObject
{
    Q_OBJECT

public:
    FleetUpdate(FleetUpdateSettings settings, FirmwareFolder* folder, QObject* parent = nullptr);
    ~FleetUpdate() override;

    FleetDriver& driver() { return m_driver; }
    // The cameras this update asks and may update: a resumed update's carried-over ones left out.
    const QStringList& asked() const { return m_asked; }
    int carriedOver() const { return int(m_settings.addresses.size() - m_asked.size()); }

    // The locks of the asked cameras and the report: false with *refusal naming what is held.
    bool lock(QString* refusal);
    // The same a part at a time (UpdateRecord::lockSome): the next `count` cameras each call.
    UpdateRecord::Step lockSome(int count, QString* refusal);
    // The report's first write: false with *error when it cannot be written.
    bool begin(QString* error);
    // Asks the cameras; asked() when every answer is in (perhaps before this returns).
    void ask();
    bool askingDone() const { return m_driver.inquiriesFinished(); }

    // Every camera's plan, in target order, from the answers (carried-over cameras as they were).
    const std::vector<PlanEntry>& plan();
    // Why the folder can send nothing at all (a file SHA256SUMS refuses, an empty or
    // unreadable file), one line each; empty when it can.
    QStringList folderRefusals() const;
    // Cameras with a plan to run, as plan() found them.
    int runs() const;

    // Runs the plans; `credentials` by entry (empty for entries without a run). finished()
    // once every camera has ended.
    void start(const std::vector<CameraCredential>& credentials);
    // Stops it from starting: Ctrl-C before anything was sent, a "no" to the question.
    void cancel();

    // The report as it stands now.
    FleetReport report() const;
    // The end's record: the run's end time, the report's last write, the history's line;
    // every lock is let go, or handed over into `locks` (UpdateRecord::finish).
    UpdateRecord::Outcome finish(std::vector<UpdateLock>* locks = nullptr);

signals:
    void askedAll();
    void finished();
    // A report write failed while cameras were at work: no further camera starts.
    void recordFailed(const QString& error);

private:
    // A camera as the earlier report leaves it to this update: carried over, or to be handled
    // with the files it took before; neither without an earlier report.
    PlanEntry entryBefore(const QString& address) const;

    FleetUpdateSettings m_settings;
    QHash<QString, const CameraReport*> m_earlier;  // the earlier report's cameras, by address
    FirmwareFolder* m_folder;
    FleetDriver m_driver;
    UpdateRecord m_record;
    QStringList m_asked;
    std::vector<PlanEntry> m_entries;  // the plans, until the driver takes them
    int m_runs = 0;
    bool m_started = false;
};

#endif
