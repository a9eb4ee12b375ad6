#include "update/updatelock.h"

#include "common/sha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// An absolute folder from the environment, or nothing: a relative XDG path is to be
// ignored, as the base directory rules say.
QString absoluteFolder(const QProcessEnvironment& environment, const char* name)
{
    const QString value = environment.value(QLatin1String(name));
    return value.isEmpty() || QDir::isRelativePath(value) ? QString() : value;
}

// The folder and its parents, each new one private to the user; an existing one is left as
// it is but for the last, which holds the locks and is made private.
bool makePrivateFolder(const QString& folder, QString* error)
{
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot make the folder %1").arg(folder);
        return false;
    }
    if (::chmod(QFile::encodeName(folder).constData(), 0700) != 0) {
        *error = QStringLiteral("%1: %2").arg(folder, systemError());
        return false;
    }
    return true;
}

// The process id the holder wrote, or 0.
qint64 writtenPid(int fd)
{
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0)
        return 0;
    bool ok = false;
    const qint64 pid = QByteArray(text, int(n)).trimmed().toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}

} // namespace

QString kelvoraStateFolder(const QProcessEnvironment& environment)
{
    QString base = absoluteFolder(environment, "XDG_STATE_HOME");
    if (base.isEmpty()) {
        const QString home = environment.value(QStringLiteral("HOME"));
        if (home.isEmpty())
            return {};
        base = QDir(home).filePath(QStringLiteral(".local/state"));
    }
    return QDir(base).filePath(QStringLiteral("kelvora"));
}

QString updateLockFolder(const QProcessEnvironment& environment)
{
    const QString runtime = absoluteFolder(environment, "XDG_RUNTIME_DIR");
    const QString base = runtime.isEmpty() ? kelvoraStateFolder(environment) : QDir(runtime).filePath(QStringLiteral("kelvora"));
    return base.isEmpty() ? QString() : QDir(base).filePath(QStringLiteral("locks"));
}

QString cameraLockKey(const QString& address)
{
    const QUrl url(QStringLiteral("http://") + address.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.path().isEmpty() || url.hasQuery() || !url.userInfo().isEmpty())
        return {};
    QString host = url.host().toLower();
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    return host + QLatin1Char(':') + QString::number(url.port(80));
}

UpdateLock::~UpdateLock()
{
    release();
}

UpdateLock::UpdateLock(UpdateLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_path(std::move(other.m_path))
    , m_outcome(std::exchange(other.m_outcome, Outcome::Failed))
    , m_holder(other.m_holder)
    , m_error(std::move(other.m_error))
{
}

UpdateLock& UpdateLock::operator=(UpdateLock&& other) noexcept
{
    if (this != &other) {
        release();
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
        m_outcome = std::exchange(other.m_outcome, Outcome::Failed);
        m_holder = other.m_holder;
        m_error = std::move(other.m_error);
    }
    return *this;
}

UpdateLock UpdateLock::camera(const QString& folder, const QString& address)
{
    const QString key = cameraLockKey(address);
    if (key.isEmpty()) {
        UpdateLock refused;
        refused.m_error = QStringLiteral("\"%1\" is no camera address").arg(address);
        return refused;
    }
    // Percent-encoded, so that no two keys share a file name and none leaves the folder.
    return take(folder, QStringLiteral("camera-%1.lock").arg(QString::fromLatin1(QUrl::toPercentEncoding(key, "[]"))));
}

UpdateLock UpdateLock::report(const QString& folder, const QString& reportPath)
{
    // The same report however it is named: through a link, a relative path or "..".
    const QFileInfo info(reportPath);
    QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty())
        canonical = QDir(QFileInfo(info.absolutePath()).canonicalFilePath()).filePath(info.fileName());
    const QByteArray digest = kelvora::sha256(QFile::encodeName(canonical)).toHex().left(32);
    return take(folder, QStringLiteral("report-%1.lock").arg(QString::fromLatin1(digest)));
}

UpdateLock UpdateLock::take(const QString& folder, const QString& fileName)
{
    UpdateLock lock;
    if (folder.isEmpty()) {
        lock.m_error = QStringLiteral("neither XDG_RUNTIME_DIR, XDG_STATE_HOME nor HOME says where locks are kept");
        return lock;
    }
    if (!makePrivateFolder(folder, &lock.m_error))
        return lock;
    const QString path = QDir(folder).filePath(fileName);
    const QByteArray encoded = QFile::encodeName(path);
    // A holder that lets go removes its file while it still holds it; whoever had opened that
    // file meanwhile takes a lock on a file nobody else can find, and tries again.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int fd = ::open(encoded.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            lock.m_error = QStringLiteral("%1: %2").arg(path, systemError());
            return lock;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool held = errno == EWOULDBLOCK;
            if (held) {
                lock.m_outcome = Outcome::Held;
                // A holder that has only just taken the lock writes its id a moment later.
                for (int wait = 0; wait < 20 && (lock.m_holder = writtenPid(fd)) == 0; ++wait)
                    ::usleep(5000);
            } else {
                lock.m_error = QStringLiteral("%1: %2").arg(path, systemError());
            }
            ::close(fd);
            return lock;
        }
        struct stat opened = {};
        struct stat named = {};
        if (::fstat(fd, &opened) != 0 || ::stat(encoded.constData(), &named) != 0 || opened.st_ino != named.st_ino
            || opened.st_dev != named.st_dev) {
            ::close(fd);
            continue;
        }
        // Without the id the lock holds all the same; whoever meets it cannot say whose it is.
        const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
        const bool noted = ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.constData(), std::size_t(pid.size()), 0) == pid.size();
        Q_UNUSED(noted);
        lock.m_fd = fd;
        lock.m_path = path;
        lock.m_outcome = Outcome::Taken;
        return lock;
    }
    lock.m_error = QStringLiteral("%1: taken and let go again and again by others").arg(path);
    return lock;
}

void UpdateLock::release()
{
    if (m_fd < 0)
        return;
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
    m_fd = -1;
    m_outcome = Outcome::Failed;
}
