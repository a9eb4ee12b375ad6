#include "fleet/history.h"

#include "common/writeall.h"
#include "update/updatelock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

QString historyPath(const QProcessEnvironment& environment)
{
    const QString folder = kelvoraStateFolder(environment);
    return folder.isEmpty() ? QString() : QDir(folder).filePath(QStringLiteral("history.jsonl"));
}

bool appendHistory(const QString& path, const FleetReport& report, QString* error)
{
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot make the folder %1").arg(dir);
        return false;
    }
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = systemError();
        return false;
    }
    // Under the lock, appends of updates side by side never interleave, and a record that
    // does not reach the disk whole (a full file system) is taken back whole: the next
    // record must never be glued onto half of this one.
    struct stat st = {};
    if (::flock(fd, LOCK_EX) != 0 || ::fstat(fd, &st) != 0) {
        *error = systemError();
        ::close(fd);
        return false;
    }
    QByteArray bytes = reportJsonLine(report) + '\n';
    // A history cut short before (by another program, or by hand) gets its line ended first.
    char last = '\n';
    if (st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
        bytes.prepend('\n');
    errno = 0;
    const bool ok = kelvora::writeAll(fd, bytes) && ::fsync(fd) == 0;
    if (!ok) {
        *error = errno != 0 ? systemError() : QStringLiteral("the record could not be written whole");
        if (::ftruncate(fd, st.st_size) == 0)
            ::fsync(fd);
    }
    ::close(fd);
    return ok;
}

bool readHistory(const QString& path, History* history, QString* error)
{
    *history = History();
    const QFileInfo info(path);
    if (!info.exists())
        return true;
    if (!info.isFile()) {
        *error = QStringLiteral("is not a regular file");
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    // Read under a shared lock: a record being appended is read whole or not at all.
    ::flock(file.handle(), LOCK_SH);
    const QByteArray all = file.readAll();
    ::flock(file.handle(), LOCK_UN);
    int number = 0;
    qsizetype at = 0;
    while (at < all.size()) {
        ++number;
        const qsizetype end = all.indexOf('\n', at);
        const QByteArray line = all.mid(at, end < 0 ? -1 : end - at);
        at = end < 0 ? all.size() : end + 1;
        if (line.trimmed().isEmpty())
            continue;
        FleetReport report;
        QString why;
        if (end < 0)
            history->skipped << QStringLiteral("line %1: cut short (no line end)").arg(number);
        else if (parseReport(line, &report, &why))
            history->reports.push_back(report);
        else
            history->skipped << QStringLiteral("line %1: %2").arg(number).arg(why);
    }
    return true;
}
