#ifndef KELVORA_FLEET_REPORTJOURNAL_H
#define KELVORA_FLEET_REPORTJOURNAL_H

// The report file of an update, kept as the update goes: written once before anything is
// sent (so a path that cannot be written stops the update before it starts), then again
// each time cameras end, and a last time at the end. Each write replaces the file whole:
// the bytes go to a temporary file beside it, are flushed to the disk, and the temporary
// file is renamed over the report, the folder flushed after; after a crash, kill -9 or a
// power loss the file is the last whole report, never a mix. Cameras that end in the same
// turn of the event loop share one write, so a thousand cameras ending together cost a
// few writes, not a thousand. Widget-free; used by kelvora-fleet.

#include "fleet/fleetreport.h"

#include <QObject>
#include <QString>

#include <functional>

// Replaces the file at `path` whole with `bytes`, as above. False with *error otherwise;
// the file is then as it was.
bool replaceFileWhole(const QString& path, const QByteArray& bytes, QString* error);

class ReportJournal : public QObject
{
    Q_OBJECT

public:
    using Source = std::function<FleetReport()>;

    ReportJournal(const QString& path, Source source, QObject* parent = nullptr);

    // Writes the report now. False with *error when it could not be written.
    bool writeNow(QString* error);
    // A camera has ended: the report is written on the next turn of the event loop.
    void schedule();
    // Writes now if a write is still due.
    bool flush(QString* error);
    int writes() const { return m_writes; }

signals:
    // A scheduled write failed; the update goes on, and the next write tries again.
    void writeFailed(const QString& error);

private:
    QString m_path;
    Source m_source;
    bool m_due = false;
    int m_writes = 0;
};

#endif
