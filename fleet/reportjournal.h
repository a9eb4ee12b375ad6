#ifndef KELVORA_FLEET_REPORTJOURNAL_H
#define KELVORA_FLEET_REPORTJOURNAL_H

// The report file of an update, kept as the update goes: written once before anything is
// asked (so a path that cannot be written stops the update before it starts), then again
// each time a camera's report changes (a file's upload answered, a camera ended), and a
// last time at the end. Each write replaces the file whole (common/replacefile.h): after a
// crash, kill -9 or a power loss the file is the last whole report, never a mix.
//
// The writes while cameras work are made on a thread of the journal's own, from a copy of
// the report taken on that turn of the event loop: a thousand cameras' report is megabytes
// of JSON and a wait for the disk, which would otherwise hold up every camera's ticks and
// uploads. The writer always takes the newest copy, so changes that come while it writes
// share the next write. Widget-free; fleet/updaterecord.h holds it for an update.

#include "fleet/fleetreport.h"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class ReportJournal : public QObject
{
    Q_OBJECT

public:
    using Source = std::function<FleetReport()>;

    ReportJournal(const QString& path, Source source, QObject* parent = nullptr);
    ~ReportJournal() override;

    // Writes the report now, in this thread, once the writer has finished what it holds.
    // False with *error when it could not be written.
    bool writeNow(QString* error);
    // A camera's report has changed: a copy of the report is taken at the end of this turn of
    // the event loop and written by the writer thread.
    void schedule();

signals:
    // A write of the writer thread failed; the update goes on, and the next write tries again.
    void writeFailed(const QString& error);

private:
    void writerLoop();

    QString m_path;
    Source m_source;
    bool m_due = false;
    std::mutex m_lock;                         // guards what follows, shared with the writer
    std::condition_variable m_wake;
    std::unique_ptr<FleetReport> m_pending;    // the newest copy not written yet
    bool m_writing = false;
    bool m_quit = false;
    std::thread m_writer;
};

#endif
