#include "common/replacefile.h"

#include "common/writeall.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kelvora {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

mode_t sharedMode()
{
    // The umask can only be read by setting it; nothing else of this process makes files
    // while a replacement is made on the event loop's thread or the journal's.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

bool replaceFileWhole(const QString& path, const QByteArray& bytes, FileAccess access, QString* error)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        *error = QStringLiteral("is not a regular file");
        return false;
    }
    const QString dir = info.absolutePath();
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    QByteArray temp = QFile::encodeName(QDir(dir).filePath(QStringLiteral(".%1.XXXXXX").arg(info.fileName())));
    // mkostemp makes the file 0600 whatever the umask.
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = systemError(errno);
        return false;
    }
    int failure = 0;
    errno = 0;
    if ((access == FileAccess::Shared && ::fchmod(fd, sharedMode()) != 0) || !writeAll(fd, bytes) || ::fsync(fd) != 0)
        failure = errno != 0 ? errno : EIO;
    // A close can be the first to report a full disk (NFS, some FUSE file systems).
    if (::close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && ::rename(temp.constData(), target.constData()) != 0)
        failure = errno;
    if (failure != 0) {
        *error = systemError(failure);
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

} // namespace kelvora
