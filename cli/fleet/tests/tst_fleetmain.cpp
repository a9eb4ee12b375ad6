// The program's arguments, folder and credential checks, run as the operator runs it.
// Every target is on 127.0.0.1.
#include "firmware/listfile.h"
#include "kelvora/version.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>

namespace {

const QString kExe = QStringLiteral(KELVORA_FLEET_EXE);

struct Result {
    int exit = -1;
    QString out;
    QString err;
};

// Without a terminal (a session of its own) and with only the environment given.
Result run(const QStringList& arguments, const QStringList& environment)
{
    QProcess p;
    QProcessEnvironment env;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString& pair : environment)
        env.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    p.setProcessEnvironment(env);
    p.setChildProcessModifier([] { ::setsid(); });
    p.start(kExe, arguments);
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished(5000);
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// Reads from the terminal's far side until `text` has come (or 10 s, or the end).
QByteArray readUntil(int fd, const QByteArray& text)
{
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (!got.contains(text) && clock.elapsed() < 10000) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, n);
    }
    return got;
}

} // namespace

class TestFleetMain : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QString m_folder;

private slots:
    void initTestCase()
    {
        m_folder = m_tmp.filePath(QStringLiteral("fw"));
        QVERIFY(QDir().mkpath(m_folder));
        QFile list(listFilePath(m_folder));
        QVERIFY(list.open(QIODevice::WriteOnly) && list.write("[TK300]\ncam_cpu=cam.bin\n[cam.bin]\nversion=V01.50\nvupno=1\n") > 0);
        QFile report(m_tmp.filePath(QStringLiteral("report.json")));
        QVERIFY(report.open(QIODevice::WriteOnly)
                && report.write(R"({"tool":"kelvora-fleet","cameras":[{"address":"127.0.0.1:8080","end":"unreachable"}]})") > 0);
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("arguments");  // "FW" is the firmware folder, "TMP" a scratch folder
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("output");  // part of stdout, or of stderr when exit is 2
        const QStringList creds{"KELVORA_USER=admin", "KELVORA_PASSWORD=pw-9e1f"};
        const QStringList none;
        QTest::newRow("no command") << QStringList{} << none << 2 << "Usage: kelvora-fleet COMMAND";
        QTest::newRow("unknown command") << QStringList{"upgrade", "127.0.0.1"} << none << 2 << "unknown command \"upgrade\"";
        QTest::newRow("version") << QStringList{"--version"} << none << 0 << "kelvora-fleet " KELVORA_VERSION "\n";
        QTest::newRow("command version") << QStringList{"plan", "--version"} << none << 0 << "kelvora-fleet " KELVORA_VERSION "\n";
        QTest::newRow("scan help") << QStringList{"scan", "--help"} << none << 0 << "Usage: kelvora-fleet scan [options] TARGET...";
        QTest::newRow("update help") << QStringList{"update", "--help"} << none << 0 << "KELVORA_PASSWORD";
        QTest::newRow("plan help, no --report") << QStringList{"plan", "--report", "x", "127.0.0.1"} << none << 2 << "Unknown option 'report'";
        QTest::newRow("parallel 0") << QStringList{"scan", "--parallel", "0", "127.0.0.1"} << none << 2 << "from 1 to 4096";
        QTest::newRow("parallel 4097") << QStringList{"update", "--parallel", "4097", "--folder", "FW", "127.0.0.1"} << creds << 2 << "from 1 to 4096";
        QTest::newRow("parallel text") << QStringList{"scan", "--parallel", "all", "127.0.0.1"} << none << 2 << "from 1 to 4096";
        QTest::newRow("bad target") << QStringList{"scan", "127.0.0.0/8"} << none << 2 << "at most a /22";
        QTest::newRow("no target") << QStringList{"scan"} << none << 2 << "no target given";
        QTest::newRow("plan needs a folder") << QStringList{"plan", "127.0.0.1"} << none << 2 << "plan needs --folder DIR";
        QTest::newRow("missing folder") << QStringList{"plan", "--folder", "TMP/none", "127.0.0.1"} << none << 2 << "does not exist";
        QTest::newRow("unknown key") << QStringList{"plan", "--folder", "FW", "--only", "cam_cpu,lens", "127.0.0.1"} << none << 2
                                     << "unknown component \"lens\"";
        QTest::newRow("no credentials, no terminal") << QStringList{"update", "--folder", "FW", "127.0.0.1"} << none << 2
                                                     << "set KELVORA_USER and KELVORA_PASSWORD";
        QTest::newRow("no password, no terminal") << QStringList{"update", "--folder", "FW", "127.0.0.1"}
                                                  << QStringList{"KELVORA_USER=admin"} << 2 << "set KELVORA_USER and KELVORA_PASSWORD";
        QTest::newRow("report where it cannot be") << QStringList{"update", "--folder", "FW", "--report", "TMP/none/r.json", "127.0.0.1"}
                                                   << creds << 2 << "cannot write the report";
        // Passes the up-front check (its folder is writable) but cannot be written: stops
        // before any camera is asked.
        QTest::newRow("report under /proc") << QStringList{"update", "--folder", "FW", "--report", "/proc/self/kelvora.json", "127.0.0.1:1"}
                                            << creds << 2 << "cannot write the report";
        QTest::newRow("canary of 0") << QStringList{"update", "--folder", "FW", "--canary", "0", "127.0.0.1"} << creds << 2
                                     << "--canary takes a number from 1";
        QTest::newRow("budget beyond the cameras") << QStringList{"update", "--folder", "FW", "--max-failures", "3", "127.0.0.1:1", "127.0.0.1:2"}
                                                   << creds << 2 << "--max-failures takes a number from 1 to the number of cameras (2)";
        QTest::newRow("bad exclusion") << QStringList{"scan", "--exclude", "127.0.0.0/33", "127.0.0.1"} << none << 2 << "bad target";
        QTest::newRow("everything excluded") << QStringList{"scan", "--exclude", "127.0.0.0/24", "127.0.0.1:8080"} << none << 2
                                             << "every target is excluded";
        QTest::newRow("json and csv") << QStringList{"scan", "--json", "--csv", "127.0.0.1"} << none << 2 << "cannot go together";
        QTest::newRow("resume from no report") << QStringList{"update", "--resume", "FW/verup_list.ini"} << creds << 2 << "not JSON";
        QTest::newRow("report as a page") << QStringList{"report", "--html", "TMP/report.json"} << none << 0
                                          << "<tr class=\"camera\" data-address=\"127.0.0.1:8080\" data-end=\"unreachable\">";
        QTest::newRow("report as a page and CSV") << QStringList{"report", "--html", "--csv", "TMP/report.json"} << none << 2
                                                  << "--html and --csv cannot go together";
        QTest::newRow("a page of the history") << QStringList{"history", "--html"} << none << 2 << "Unknown option 'html'";
        QTest::newRow("report of nothing") << QStringList{"report", "TMP/none.json"} << none << 2 << "does not exist";
        QTest::newRow("history of a bad target") << QStringList{"history", "cam:x"} << none << 2 << "bad target";
    }

    void usage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, environment);
        QFETCH(int, exit);
        QFETCH(QString, output);
        for (QString& a : arguments)
            a.replace(QStringLiteral("FW"), m_folder).replace(QStringLiteral("TMP"), m_tmp.path());
        const Result r = run(arguments, environment);
        QCOMPARE(r.exit, exit);
        const QString& text = exit == 2 ? r.err : r.out;
        QVERIFY2(text.contains(output), qPrintable(r.out + r.err));
        QVERIFY(!(r.out + r.err).contains(QStringLiteral("pw-9e1f")));
    }

    // On a terminal the password is asked without echo, and Ctrl-C at that question
    // leaves the terminal echoing again.
    void prompt_data()
    {
        QTest::addColumn<bool>("interrupt");
        QTest::newRow("answered") << false;
        QTest::newRow("ctrl-c") << true;
    }

    void prompt()
    {
        QFETCH(bool, interrupt);
        const QByteArray exe = QFile::encodeName(kExe);
        const QByteArray folder = QFile::encodeName(m_folder);
        const char* argv[] = {exe.constData(), "update", "--yes", "--folder", folder.constData(), "127.0.0.1:1", nullptr};
        const char* envp[] = {"QT_QPA_PLATFORM=offscreen", nullptr};
        int master = -1;
        const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
        QVERIFY(pid >= 0);
        if (pid == 0) {
            ::execve(argv[0], const_cast<char**>(argv), const_cast<char**>(envp));
            ::_exit(127);
        }
        // A failed check leaves no program waiting at its question.
        const auto cleanup = qScopeGuard([pid, master] {
            if (::waitpid(pid, nullptr, WNOHANG) == 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
            ::close(master);
        });
        QVERIFY(readUntil(master, "Camera user ID: ").contains("Camera user ID: "));
        QCOMPARE(::write(master, "admin\n", 6), 6);
        QVERIFY(readUntil(master, "Camera password: ").contains("Camera password: "));
        termios settings{};
        QTRY_VERIFY_WITH_TIMEOUT(::tcgetattr(master, &settings) == 0 && !(settings.c_lflag & ECHO), 5000);
        if (interrupt)
            QCOMPARE(::write(master, "\x03", 1), 1);
        else
            QCOMPARE(::write(master, "pw-9e1f\n", 8), 8);
        const QByteArray rest = readUntil(master, "\x04never");
        int status = 0;
        pid_t ended = 0;
        for (int i = 0; i < 100 && ended == 0; ++i) {
            ended = ::waitpid(pid, &status, WNOHANG);
            if (ended == 0)
                QTest::qWait(100);
        }
        QCOMPARE(ended, pid);
        if (interrupt)
            QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
        QVERIFY(!rest.contains("pw-9e1f"));
        QVERIFY(::tcgetattr(master, &settings) == 0 && (settings.c_lflag & ECHO));
    }
};

QTEST_GUILESS_MAIN(TestFleetMain)
#include "tst_fleetmain.moc"
