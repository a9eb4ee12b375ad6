#ifndef KELVORA_FLEET_UPDATERECORD_H
#define KELVORA_FLEET_UPDATERECORD_H

// What an update keeps beyond its cameras, for its whole life: the locks that keep any other
// Kelvora process off its cameras and its report (update/updatelock.h), the report file
// (fleet/reportjournal.h) written before anything is asked and again whenever a camera's
// report changes, and at the end the last write of the report and the update's line in
// the history (fleet/history.h). Every front end that updates many cameras (kelvora-fleet,
// a window) holds one from before the first inquiry to after the last camera has ended;
// dropping it lets go of every lock. A report or journal write that fails once the update
// has begun is never a silent loss: writeFailed() tells, and finish() says it failed.
// Widget-free.

#include "fleet/fleetreport.h"
#include "update/updatelock.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class ReportJournal;

class UpdateRecord : public QObject
{
    Q_OBJECT

public:
    using Source = std::function<FleetReport()>;

    // `reportPath` and `historyPath` may be empty (no report, no history).
    UpdateRecord(const QString& lockFolder, const QString& reportPath, const QString& historyPath, QObject* parent = nullptr);
    ~UpdateRecord() override;

    // Takes the report's lock and every camera's (addresses in normal form), each without
    // waiting. False when any is held by another process, or cannot be taken: *refusal then
    // names each camera (or the report) and the process that holds it, and nothing is held.
    bool lock(const QStringList& cameras, QString* refusal);
    // The same a part at a time, for a front end that must keep answering while hundreds
    // are taken: the report's lock and the next `count` cameras' each call, More until every
    // lock is taken (Done) or one is refused (Refused, *refusal set, nothing held). Nothing
    // may be asked of a camera before Done.
    enum class Step { More, Done, Refused };
    Step lockSome(const QStringList& cameras, int count, QString* refusal);
    // Locks held now (one open file each).
    int locksHeld() const { return int(m_locks.size()); }

    // Writes the report for the first time, from `source`, which gives the report as it
    // stands whenever asked: a path that cannot take it is refused before anything is
    // asked of a camera. True at once without a report path.
    bool begin(Source source, QString* error);
    // A camera's report has changed: written by the journal's thread, soon.
    void changed();

    struct Outcome {
        bool reportWritten = true;  // false: the report could not be written, now or before
        QString reportError;
        bool historyWritten = true;
        QString historyError;
    };
    // The last write of the report, then the history's line; the locks are let go after, or,
    // with `locks`, handed over for the caller to let go of (a window, a few a turn).
    Outcome finish(const FleetReport& report, std::vector<UpdateLock>* locks = nullptr);

    QString reportPath() const { return m_reportPath; }

signals:
    // A write of the report failed after the start: the update should stop starting cameras.
    void writeFailed(const QString& error);

private:
    QString m_lockFolder;
    QString m_reportPath;
    QString m_historyPath;
    std::vector<UpdateLock> m_locks;
    struct Taking;
    std::unique_ptr<Taking> m_taking;  // the locks taken so far by lockSome
    std::unique_ptr<ReportJournal> m_journal;
    QString m_failed;  // the first write that failed after the start
};

#endif
