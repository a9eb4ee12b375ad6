#include "fleet/reportjournal.h"

#include "common/writeall.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

bool replaceFileWhole(const QString& path, const QByteArray& bytes, QString* error)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        *error = QStringLiteral("is not a regular file");
        return false;
    }
    const QString dir = info.absolutePath();
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    QByteArray temp = QFile::encodeName(QDir(dir).filePath(QStringLiteral(".%1.XXXXXX").arg(info.fileName())));
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = systemError(errno);
        return false;
    }
    const bool written = kelvora::writeAll(fd, bytes) && ::fsync(fd) == 0;
    const int writeError = errno;
    ::close(fd);
    if (!written || ::rename(temp.constData(), target.constData()) != 0) {
        *error = systemError(written ? errno : writeError);
        ::unlink(temp.constData());
        return false;
    }
    // The rename itself reaches the disk only with its folder.
    const int dirFd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

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
    return replaceFileWhole(m_path, bytes, error);
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
        const bool written = replaceFileWhole(m_path, reportJson(*report), &error);
        lock.lock();
        m_writing = false;
        m_wake.notify_all();
        if (!written)
            QMetaObject::invokeMethod(this, [this, error] { emit writeFailed(error); }, Qt::QueuedConnection);
    }
}
