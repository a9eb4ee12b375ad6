#include "fleet/history.h"

#include "common/writeall.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
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
    QString base = environment.value(QStringLiteral("XDG_STATE_HOME"));
    // A relative XDG path is to be ignored, as the base directory rules say.
    if (base.isEmpty() || QDir::isRelativePath(base)) {
        const QString home = environment.value(QStringLiteral("HOME"));
        if (home.isEmpty())
            return {};
        base = QDir(home).filePath(QStringLiteral(".local/state"));
    }
    return QDir(base).filePath(QStringLiteral("kelvora/history.jsonl"));
}

bool appendHistory(const QString& path, const FleetReport& report, QString* error)
{
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot make the folder %1").arg(dir);
        return false;
    }
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = systemError();
        return false;
    }
    // One write under the lock: appends of updates side by side never interleave.
    const bool ok = ::flock(fd, LOCK_EX) == 0 && kelvora::writeAll(fd, reportJsonLine(report) + '\n');
    if (!ok)
        *error = systemError();
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
    int number = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        ++number;
        if (line.trimmed().isEmpty())
            continue;
        FleetReport report;
        QString why;
        if (parseReport(line, &report, &why))
            history->reports.push_back(report);
        else
            history->skipped << QStringLiteral("line %1: %2").arg(number).arg(why);
    }
    return true;
}
