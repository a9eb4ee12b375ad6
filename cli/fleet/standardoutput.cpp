#include "cli/fleet/standardoutput.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace fleetout {

namespace {

int g_fd = STDOUT_FILENO;
int g_error = 0;

void tell(int error)
{
    if (error == EPIPE)
        return;
    const QByteArray line = QByteArray("kelvora-fleet: cannot write output: ") + std::strerror(error) + '\n';
    const ssize_t n = ::write(STDERR_FILENO, line.constData(), std::size_t(line.size()));
    Q_UNUSED(n);
}

} // namespace

void install()
{
    std::signal(SIGPIPE, SIG_IGN);
}

bool write(const QByteArray& bytes)
{
    if (g_error != 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(g_fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            g_error = n < 0 ? errno : EIO;
            tell(g_error);
            return false;
        }
        done += n;
    }
    return true;
}

bool write(const QString& text)
{
    return write(text.toUtf8());
}

bool failed()
{
    return g_error != 0;
}

bool readerGone()
{
    return g_error == EPIPE;
}

int finishPrinting(int status)
{
    // Some file systems (NFS, some FUSE ones) report a failed write only when the file is
    // closed: the output is closed here, as coreutils close theirs, and nothing follows.
    if (g_error == 0 && ::close(g_fd) != 0 && errno != EBADF && errno != EINTR) {
        g_error = errno;
        tell(g_error);
    }
    if (g_error == EPIPE) {
        std::signal(SIGPIPE, SIG_DFL);
        std::raise(SIGPIPE);
    }
    return g_error != 0 ? 1 : status;
}

int finishWorking(int status)
{
    if (g_error == 0 && ::close(g_fd) != 0 && errno != EBADF && errno != EINTR) {
        g_error = errno;
        tell(g_error);
    }
    return g_error != 0 ? 1 : status;
}

void useDescriptor(int fd)
{
    g_fd = fd;
    g_error = 0;
}

} // namespace fleetout
