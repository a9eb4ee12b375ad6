#include "fleet/reportjournal.h"

#include "common/replacefile.h"

#include <QTimer>

ReportJournal::ReportJournal(const QString& path, Source source, QObject* parent)
    : QObject(parent)
    , m_path(path)
    , m_source(std::move(source))
    , m_writer([this] { writerLoop(); })
{
}

ReportJournal::~ReportJournal()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_quit = true;
    }
    m_wake.notify_all();
    m_writer.join();
}

bool ReportJournal::writeNow(QString* error)
{
    m_due = false;
    const QByteArray bytes = reportJson(m_source());
    std::unique_lock<std::mutex> lock(m_lock);
    // Nothing older may land after this: what the writer holds is dropped or done first.
    m_pending.reset();
    m_wake.wait(lock, [this] { return !m_writing; });
    return kelvora::replaceFileWhole(m_path, bytes, kelvora::FileAccess::Private, error);
}

void ReportJournal::schedule()
{
    if (m_due)
        return;
    m_due = true;
    QTimer::singleShot(0, this, [this] {
        if (!m_due)
            return;
        m_due = false;
        auto copy = std::make_unique<FleetReport>(m_source());
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_pending = std::move(copy);
        }
        m_wake.notify_all();
    });
}

void ReportJournal::writerLoop()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || m_pending; });
        if (!m_pending)
            return;
        const std::unique_ptr<FleetReport> report = std::move(m_pending);
        m_writing = true;
        lock.unlock();
        QString error;
        const bool written = kelvora::replaceFileWhole(m_path, reportJson(*report), kelvora::FileAccess::Private, &error);
        lock.lock();
        m_writing = false;
        m_wake.notify_all();
        if (!written)
            QMetaObject::invokeMethod(this, [this, error] { emit writeFailed(error); }, Qt::QueuedConnection);
    }
}
