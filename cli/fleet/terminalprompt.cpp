#include "cli/fleet/terminalprompt.h"
#include "common/writeall.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iterator>
#include <memory>

namespace {

// The terminal's settings while echo is off, for the signal handler to put back.
int g_restoreFd = -1;
termios g_restoreSettings{};

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction g_previous[sizeof(kEndingSignals) / sizeof(int)];

extern "C" void restoreTerminalAndRaise(int signalNumber)
{
    if (g_restoreFd >= 0)
        ::tcsetattr(g_restoreFd, TCSANOW, &g_restoreSettings);
    // Then the signal's own effect, as if it had come without us.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signalNumber, &fallback, nullptr);
    ::raise(signalNumber);
}

// Echo off for as long as it lives; every signal that would end (or stop) the process
// first puts the settings back.
class EchoOff
{
public:
    explicit EchoOff(int fd)
    {
        termios settings{};
        if (::tcgetattr(fd, &settings) != 0)
            return;
        g_restoreSettings = settings;
        g_restoreFd = fd;
        struct sigaction action {};
        action.sa_handler = restoreTerminalAndRaise;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
            ::sigaction(kEndingSignals[i], &action, &g_previous[i]);
        settings.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL);
        m_active = ::tcsetattr(fd, TCSAFLUSH, &settings) == 0;
    }
    ~EchoOff()
    {
        if (g_restoreFd < 0)
            return;
        ::tcsetattr(g_restoreFd, TCSAFLUSH, &g_restoreSettings);
        g_restoreFd = -1;
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
            ::sigaction(kEndingSignals[i], &g_previous[i], nullptr);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    bool active() const { return m_active; }

private:
    bool m_active = false;
};


} // namespace

Terminal::Terminal()
    : m_fd(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC))
{
}

Terminal::~Terminal()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Terminal::ask(const QString& prompt, bool echo, QString* answer, const std::function<bool()>& cancelled)
{
    if (m_fd < 0 || !kelvora::writeAll(m_fd, prompt.toUtf8()))
        return false;
    QByteArray line;
    bool complete = false;
    {
        std::unique_ptr<EchoOff> quiet;
        if (!echo)
            quiet = std::make_unique<EchoOff>(m_fd);
        char c = 0;
        for (;;) {
            if (cancelled && cancelled()) {
                line.fill('\0');
                line.clear();
                break;
            }
            pollfd ready{m_fd, POLLIN, 0};
            const int polled = ::poll(&ready, 1, 100);
            if (polled < 0 && errno != EINTR)
                break;
            if (polled <= 0)
                continue;
            const ssize_t n = ::read(m_fd, &c, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            if (c == '\n') {
                complete = true;
                break;
            }
            line += c;
        }
    }
    // The line end the operator typed was not echoed.
    if (!echo)
        kelvora::writeAll(m_fd, "\n");
    if (line.endsWith('\r'))
        line.chop(1);
    *answer = QString::fromUtf8(line);
    line.fill('\0');
    return complete || !answer->isEmpty();  // a last line without its line end counts
}

bool Terminal::confirm(const QString& question, const std::function<bool()>& cancelled)
{
    QString answer;
    if (!ask(question + QStringLiteral(" [y/N] "), true, &answer, cancelled) || (cancelled && cancelled()))
        return false;
    answer = answer.trimmed().toLower();
    return answer == u"y" || answer == u"yes";
}

bool obtainCredentials(const QProcessEnvironment& environment, Credentials* credentials, QString* error)
{
    *credentials = credentialsFromEnvironment(environment);
    credentials->source = QStringLiteral("environment");
    if (credentials->complete())
        return true;
    credentials->source = QStringLiteral("prompt");
    Terminal terminal;
    if (!terminal.isOpen()) {
        *error = QStringLiteral("no terminal to ask for the camera's user ID and password: set KELVORA_USER and "
                                "KELVORA_PASSWORD");
        return false;
    }
    if (credentials->user.isEmpty() && !terminal.ask(QStringLiteral("Camera user ID: "), true, &credentials->user)) {
        *error = QStringLiteral("no user ID given");
        return false;
    }
    if (credentials->password.isEmpty()
        && !terminal.ask(QStringLiteral("Camera password: "), false, &credentials->password)) {
        *error = QStringLiteral("no password given");
        return false;
    }
    if (!credentials->complete()) {
        *error = QStringLiteral("the user ID and the password must not be empty");
        return false;
    }
    return true;
}
