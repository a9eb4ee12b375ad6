// kelvora-fleet run as the operator runs it, against simulated cameras on loopback
// addresses of their own: cameras with their own passwords from a credentials file, a fleet
// that is up to date, an update killed in mid-run and resumed from its report, and the
// report, CSV and history read back. No secret may show in any output, report or log.
#include "firmware/listfile.h"
#include "fleet/cameralog.h"
#include "fleet/fleetreport.h"
#include "fleet/history.h"
#include "sim/camerasim.h"
#include "tests/support/simuploads.h"
#include "sim/samplefolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <map>
#include <memory>
#include <vector>

namespace {

const QString kExe = QStringLiteral(KELVORA_FLEET_EXE);

struct Result {
    int exit = -1;
    QString out;
    QString err;
};

QProcessEnvironment environment(const QStringList& pairs)
{
    QProcessEnvironment env;
    for (const QString& pair : pairs)
        env.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    return env;
}


bool writeFile(const QString& path, const QByteArray& bytes, QFile::Permissions permissions)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size()
        && f.setPermissions(permissions);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every file under a folder, read whole, for the secret search.
QByteArray everything(const QString& dir)
{
    QByteArray all;
    for (const QFileInfo& f : QDir(dir).entryInfoList(QDir::Files | QDir::Hidden))
        all += readFile(f.filePath());
    for (const QFileInfo& d : QDir(dir).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
        all += everything(d.filePath());
    return all;
}

// Started and left to run: the caller waits for it.
std::unique_ptr<QProcess> launch(const QStringList& arguments, const QStringList& env)
{
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(environment(env));
    p->setChildProcessModifier([] { ::setsid(); });
    p->start(kExe, arguments);
    return p;
}

Result finished(QProcess& p, int boundMs = 60000)
{
    if (!p.waitForFinished(boundMs)) {
        p.kill();
        p.waitForFinished(5000);
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// Without a terminal (a session of its own), with only the environment given.
Result run(const QStringList& arguments, const QStringList& env, int boundMs = 60000)
{
    const auto p = launch(arguments, env);
    return finished(*p, boundMs);
}

// A small file system of its own (root only): the test skips where it cannot have one.
class SmallFileSystem
{
public:
    SmallFileSystem(const QString& path, const char* size)
        : m_path(QFile::encodeName(path))
    {
        m_mounted = ::geteuid() == 0 && QDir().mkpath(path)
            && ::mount("tmpfs", m_path.constData(), "tmpfs", 0, (QByteArray("size=") + size).constData()) == 0;
    }
    ~SmallFileSystem()
    {
        if (m_mounted)
            ::umount2(m_path.constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    // Writes until the file system is full.
    void fill(const QString& name) const
    {
        QFile filler(QDir(QFile::decodeName(m_path)).filePath(name));
        if (!filler.open(QIODevice::WriteOnly))
            return;
        const QByteArray block(512, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }

private:
    QByteArray m_path;
    bool m_mounted = false;
};

// The permission bits of a file or folder.
int modeOf(const QString& path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}


} // namespace

class TestFleetRun : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_folder;
    QStringList m_env;  // a home of the test's own, so the history is the test's

    // TK300 cameras, each on a loopback address of its own, with the given passwords.
    std::vector<std::unique_ptr<CameraSim>> cameras(const QStringList& hosts, const std::vector<std::string>& passwords,
                                                    QStringList* addresses)
    {
        std::vector<std::unique_ptr<CameraSim>> sims;
        for (qsizetype i = 0; i < hosts.size(); ++i) {
            auto sim = std::make_unique<CameraSim>();
            if (sim->start(0, hosts[i].toStdString()) <= 0)
                return {};
            sim->setModel(CAM_MODELID_QV_TK300);
            sim->setCredentials("op", passwords[std::size_t(i)]);
            sim->setRestartTime(std::chrono::milliseconds(20));
            *addresses << QStringLiteral("%1:%2").arg(hosts[i]).arg(sim->port());
            sims.push_back(std::move(sim));
        }
        return sims;
    }

private slots:
    void initTestCase()
    {
        m_folder = m_tmp.filePath(QStringLiteral("fw"));
        QVERIFY(writeSampleFolder(m_folder.toStdString()));
        m_env = QStringList{QStringLiteral("HOME=") + m_tmp.filePath(QStringLiteral("home")), QStringLiteral("QT_QPA_PLATFORM=offscreen")};
    }

    // Three cameras with three passwords from the file (by host and port, by host, by a
    // range, each beating a wider range with a wrong password), a fourth from the
    // environment; then the same fleet again is up to date, for plan and for update.
    void credentials()
    {
        QStringList addresses;
        const auto sims = cameras({"127.0.1.1", "127.0.1.2", "127.0.2.5", "127.0.3.9"},
                                  {"pw one", "#two:", "dr\xfc" "i 3", "env-pw"}, &addresses);
        QCOMPARE(sims.size(), std::size_t(4));
        const QString file = m_tmp.filePath(QStringLiteral("cameras.cred"));
        const QByteArray entries = "# site A\n"
                                   "127.0.1.0/24 op wrong-for-all\n"
                                   "127.0.2.0/24 op dr\xc3\xbci 3\n"
                                   "\n"
                                   "127.0.1.2 op #two:\n"
                                   + addresses[0].toUtf8() + " op pw one\n"
                                   "127.0.3.9:1 op never-this-port\n";
        QVERIFY(writeFile(file, entries, QFile::ReadOwner | QFile::WriteOwner));
        const QString report = m_tmp.filePath(QStringLiteral("creds.json"));
        const QString logs = m_tmp.filePath(QStringLiteral("logs"));
        const QStringList env = m_env + QStringList{"KELVORA_USER=op", "KELVORA_PASSWORD=env-pw"};
        const QStringList update{"update", "--yes", "--folder", m_folder, "--only", "servo_cpu,eeprom_cam", "--credentials",
                                 file, "--report", report, "--log-dir", logs};
        Result r = run(update + QStringList{"--canary", "2"} + addresses, env);
        QVERIFY2(r.exit == 0, qPrintable(r.out + r.err));
        QVERIFY2(r.out.contains(QStringLiteral("The canary: %1, %2 (passed).").arg(addresses[0], addresses[1])), qPrintable(r.out));

        FleetReport back;
        QString error;
        QVERIFY2(readReport(report, &back, &error), qPrintable(error));
        const QStringList sources{"file line 6", "file line 5", "file line 3", "environment"};
        for (std::size_t i = 0; i < back.cameras.size(); ++i) {
            const CameraReport& c = back.cameras[i];
            QCOMPARE(c.address, addresses[qsizetype(i)]);
            QCOMPARE(c.end, FleetEnd::Completed);
            QVERIFY(c.verified);
            QCOMPARE(c.credentialSource, sources[qsizetype(i)]);
            QVERIFY(c.started.isValid() && c.ended >= c.started);
            QCOMPARE(c.before.size(), qsizetype(9));
            QCOMPARE(c.after.value(2), QStringLiteral("V01.20"));
            QVERIFY(c.files.size() == 2 && c.files[0].uploadSeconds >= 0);
            // The timeline's times: each file's upload and restart wait, one after the other
            // from the camera's start, before it was asked again, which was before its end.
            QVERIFY(c.verificationStarted.isValid() && c.started <= c.verificationStarted && c.verificationStarted <= c.ended);
            double spent = 0;
            for (const ReportedFile& f : c.files) {
                QVERIFY(f.uploadSeconds >= 0 && f.restartSeconds >= 0);
                spent += f.uploadSeconds + f.restartSeconds;
            }
            QVERIFY2(spent <= double(c.started.msecsTo(c.verificationStarted)) / 1000 + 0.05, qPrintable(QString::number(spent)));
            // What went out, as the customer's record has it.
            const QByteArray sent = readFile(QDir(m_folder).filePath(c.files[1].fileName));
            QCOMPARE(c.files[1].size, qint64(sent.size()));
            QCOMPARE(c.files[1].sha256, QString::fromLatin1(QCryptographicHash::hash(sent, QCryptographicHash::Sha256).toHex()));
        }
        QCOMPARE(back.run.folder, QDir(m_folder).absolutePath());
        QVERIFY(back.run.sums == u"checked" || back.run.sums == u"none");
        QVERIFY(r.out.contains(QStringLiteral("file line 3")));

        // Done is done: the same fleet again plans nothing and updates nothing, and says so.
        r = run(QStringList{"plan", "--folder", m_folder, "--only", "servo_cpu,eeprom_cam"} + addresses, m_env);
        QCOMPARE(r.exit, 0);
        QCOMPARE(r.out.count(QStringLiteral("up to date")), 4);
        r = run(update + addresses, env);
        QVERIFY2(r.exit == 0, qPrintable(r.out + r.err));
        QVERIFY(r.out.contains(QStringLiteral("up to date")));
        for (const auto& sim : sims) {
            const auto taken = acceptedUploads(*sim);
            QCOMPARE(taken.size(), std::size_t(2));
            QVERIFY(taken.begin()->second == 1 && taken.rbegin()->second == 1);
        }

        // The report and the history read back, for people and for a spreadsheet.
        r = run({"report", report}, m_env);
        QCOMPARE(r.exit, 0);
        QVERIFY(r.out.contains(QStringLiteral("up to date")));
        r = run({"history", "--csv", "127.0.2.0/24"}, m_env);
        QCOMPARE(r.exit, 0);
        const QStringList rows = r.out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 1 + 2 + 1);  // head, two files of the first update, the camera of the second
        QVERIFY(rows[1].contains(addresses[2]) && rows[1].contains(QStringLiteral("verified")));
        QVERIFY(rows[3].contains(QStringLiteral("up-to-date")));

        // No secret anywhere: outputs, report, logs, history.
        QByteArray seen = (r.out + r.err).toUtf8() + everything(m_tmp.path()).replace(entries, "");
        seen += run(update + addresses, env).out.toUtf8();
        for (const QByteArray& secret : {QByteArray("pw one"), QByteArray("#two:"), QByteArray("dr\xc3\xbci 3"), QByteArray("env-pw"),
                                        QByteArray("wrong-for-all")})
            QVERIFY2(!seen.contains(secret), secret.constData());

        // A file others may read is refused before anything is asked, with the fix.
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        r = run(update + addresses, env);
        QCOMPARE(r.exit, 2);
        QVERIFY2(r.err.contains(QStringLiteral("chmod 600")), qPrintable(r.err));
    }

    // A file that differs from the folder's SHA256SUMS, or that it does not list, goes to no
    // camera: plan shows it, update stops before any camera is touched.
    void sealedFolder_data()
    {
        QTest::addColumn<QByteArray>("sums");  // SHA256SUMS for the servo file and the camera EEPROM file
        QTest::addColumn<QString>("refused");
        const QByteArray servo = QCryptographicHash::hash(readFile(QDir(m_folder).filePath("qv_servo_cpu_V0120.spt")),
                                                          QCryptographicHash::Sha256).toHex();
        const QByteArray eeprom = QCryptographicHash::hash(readFile(QDir(m_folder).filePath("qv_cam_eeprom_V0110.eep")),
                                                           QCryptographicHash::Sha256).toHex();
        QByteArray other = eeprom;
        other[0] = other[0] == '0' ? '1' : '0';
        QTest::newRow("bytes differ") << QByteArray(servo + "  qv_servo_cpu_V0120.spt\n" + other + "  qv_cam_eeprom_V0110.eep\n")
                                      << "qv_cam_eeprom_V0110.eep";
        QTest::newRow("not listed") << QByteArray(servo + "  qv_servo_cpu_V0120.spt\n") << "qv_cam_eeprom_V0110.eep";
        QTest::newRow("malformed") << QByteArray(servo + " qv_servo_cpu_V0120.spt\n" + eeprom + "  qv_cam_eeprom_V0110.eep\n")
                                   << "qv_servo_cpu_V0120.spt";
        // Without SHA256SUMS too: an empty image is no firmware.
        QTest::newRow("an empty file") << QByteArray() << "qv_cam_eeprom_V0110.eep";
    }

    void sealedFolder()
    {
        QFETCH(QByteArray, sums);
        QFETCH(QString, refused);
        QTemporaryDir dir;
        QVERIFY(writeSampleFolder(dir.path().toStdString()));
        if (sums.isEmpty())
            QVERIFY(writeFile(QDir(dir.path()).filePath(refused), QByteArray(), QFile::ReadOwner | QFile::WriteOwner));
        else
            QVERIFY(writeFile(QDir(dir.path()).filePath(QStringLiteral("SHA256SUMS")), sums, QFile::ReadOwner | QFile::WriteOwner));
        QStringList addresses;
        const auto sims = cameras({"127.0.5.1"}, {"pw"}, &addresses);
        QCOMPARE(sims.size(), std::size_t(1));
        const QStringList only{"--folder", dir.path(), "--only", "servo_cpu,eeprom_cam"};
        Result r = run(QStringList{"plan"} + only + addresses, m_env);
        QCOMPARE(r.exit, 1);
        QVERIFY2(r.out.contains(sums.isEmpty() ? QStringLiteral("file-empty: ") + refused : QStringLiteral("sum-refused: SHA256SUMS refuses ") + refused),
                 qPrintable(r.out));
        r = run(QStringList{"update", "--yes"} + only + addresses, m_env + QStringList{"KELVORA_USER=op", "KELVORA_PASSWORD=pw"});
        QCOMPARE(r.exit, 2);
        QVERIFY2(r.err.contains(refused), qPrintable(r.err));
        QVERIFY(sims[0]->uploads().empty());
    }

    // A camera's answers are the camera's: what it says reaches the table and the CSV with
    // its control characters escaped, and the JSON as it came (JSON escapes C0; a C1 stays a
    // character). The network version is read from where the window reads it (six
    // characters before the last four): "d", BEL, ESC "[2J" of the answer; the camera CPU's
    // holds an 8-bit CSI.
    void hostileAnswers_data()
    {
        QTest::addColumn<QStringList>("format");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("table") << QStringList{}
                               << QStringList{QStringLiteral("\\x9b2JV01  d\\x07\\x1b[2J  V01.10")};
        QTest::newRow("csv") << QStringList{"--csv"}
                             << QStringList{QStringLiteral(",QV_TK300,QV-TK300,\\x9b2JV01,d\\x07\\x1b[2J,V01.10,")};
        QTest::newRow("json") << QStringList{"--json"}
                              << QStringList{QStringLiteral("\"network_cpu\": \"d\\u0007\\u001b[2J\""),
                                             QStringLiteral("\"cam_cpu\": \"\u009b2JV01\"")};
    }

    void hostileAnswers()
    {
        QFETCH(QStringList, format);
        QFETCH(QStringList, shown);
        QStringList addresses;
        const auto sims = cameras({"127.0.6.1"}, {"pw"}, &addresses);
        QCOMPARE(sims.size(), std::size_t(1));
        sims[0]->setVersion(3, "\x1b]0;pwned\x07\x1b[2J");
        sims[0]->setVersion(1, "\x9b" "2JV01");
        const Result r = run(QStringList{"scan"} + format + addresses, m_env);
        QVERIFY2(r.exit == 0, qPrintable(r.out + r.err));
        for (const QString& text : shown)
            QVERIFY2(r.out.contains(text), qPrintable(r.out));
        if (format.contains(QStringLiteral("--json"))) {
            const QJsonObject versions = QJsonDocument::fromJson(r.out.toUtf8())
                                             .object().value(QStringLiteral("cameras")).toArray().at(0).toObject()
                                             .value(QStringLiteral("versions")).toObject();
            QCOMPARE(versions.value(QStringLiteral("network_cpu")).toString(), QStringLiteral("d\x07\x1b[2J"));
            QCOMPARE(versions.value(QStringLiteral("cam_cpu")).toString(), QString::fromLatin1("\x9b" "2JV01"));
            return;
        }
        for (const QChar c : r.out)
            QVERIFY2(c == u'\n' || c == u'\r' || (c.unicode() >= 0x20 && (c.unicode() < 0x7f || c.unicode() > 0x9f)), qPrintable(r.out));
    }

    // Two updates on one camera, or one report, at once: one refuses to start, naming the
    // camera (or report) and the other's process, and the camera is sent each file once.
    void oneUpdateAtATime_data()
    {
        QTest::addColumn<bool>("sameCamera");
        QTest::addColumn<bool>("sameReport");
        QTest::newRow("the same camera") << true << false;
        QTest::newRow("the same report") << false << true;
    }

    void oneUpdateAtATime()
    {
        QFETCH(bool, sameCamera);
        QFETCH(bool, sameReport);
        QStringList addresses;
        const auto sims = cameras({"127.0.8.1", "127.0.8.2"}, {"pw", "pw"}, &addresses);
        QCOMPARE(sims.size(), std::size_t(2));
        QTemporaryDir tmp;
        const QStringList env = m_env + QStringList{"KELVORA_USER=op", "KELVORA_PASSWORD=pw",
                                                    "XDG_RUNTIME_DIR=" + tmp.filePath(QStringLiteral("run"))};
        const QStringList update{"update", "--yes", "--folder", m_folder, "--only", "servo_cpu", "--no-history"};
        const auto first = launch(update + QStringList{"--report", tmp.filePath("a.json"), addresses[0]}, env);
        const auto second = launch(update + QStringList{"--report", tmp.filePath(sameReport ? "a.json" : "b.json"),
                                                        addresses[sameCamera ? 0 : 1]}, env);
        QVERIFY(first->waitForStarted(5000) && second->waitForStarted(5000));
        const qint64 pids[2] = {first->processId(), second->processId()};
        const Result results[2] = {finished(*first), finished(*second)};
        const int refused = results[0].exit == 2 ? 0 : 1;
        QVERIFY2(results[refused].exit == 2 && results[1 - refused].exit == 0,
                 qPrintable(results[0].err + results[1].err));
        const QString& why = results[refused].err;
        QVERIFY2(why.contains(QStringLiteral("being updated by another Kelvora process")), qPrintable(why));
        QVERIFY2(why.contains(QStringLiteral("(process %1)").arg(pids[1 - refused])), qPrintable(why));
        QVERIFY2(why.contains(sameReport ? QStringLiteral("the report") : addresses[0]), qPrintable(why));
        // One byte stream to the camera: the refused run asked nothing, sent nothing.
        const std::size_t cameraOf[2] = {0, sameCamera ? 0u : 1u};
        QCOMPARE(int(sims[cameraOf[1 - refused]]->uploads().size()), 1);
        if (!sameCamera)
            QVERIFY(sims[cameraOf[refused]]->requests().empty());
        // The locks are let go with the run.
        const Result again = run(update + QStringList{"--report", tmp.filePath("a.json"), addresses[0]}, env);
        QVERIFY2(again.exit == 0, qPrintable(again.err));
    }

    // A resume judges the report's cameras by the folder they were updated from, or not at
    // all: anything changed since is refused before a camera is asked.
    void resumeRefused_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("said");
        QTest::newRow("another folder") << "copy" << QStringList{"--folder"} << "the folder is ";
        QTest::newRow("other components") << "" << QStringList{"--only", "eeprom_cam"} << "the components asked for are --only eeprom_cam";
        QTest::newRow("a file changed") << "file" << QStringList{} << "qv_servo_cpu_V0120.spt has changed";
        QTest::newRow("the list file edited") << "list" << QStringList{} << "list file has changed";
    }

    void resumeRefused()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, arguments);
        QFETCH(QString, said);
        QTemporaryDir tmp;
        const QString folder = tmp.filePath(QStringLiteral("fw"));
        const QString other = tmp.filePath(QStringLiteral("fw2"));
        QVERIFY(writeSampleFolder(folder.toStdString()) && writeSampleFolder(other.toStdString()));
        QStringList addresses;
        const auto sims = cameras({"127.0.8.5"}, {"pw"}, &addresses);
        QCOMPARE(sims.size(), std::size_t(1));
        const QString report = tmp.filePath(QStringLiteral("report.json"));
        const QStringList env = m_env + QStringList{"KELVORA_USER=op", "KELVORA_PASSWORD=pw"};
        // An update left for later: refused by the camera, so the resume has work to do.
        SimFaults refuse;
        refuse.rejectCredentials = true;
        sims[0]->setFaults(refuse);
        Result r = run(QStringList{"update", "--yes", "--no-history", "--folder", folder, "--only", "servo_cpu", "--report", report}
                           + addresses, env);
        QCOMPARE(r.exit, 1);
        sims[0]->setFaults(SimFaults());
        sims[0]->clearLog();
        if (change == u"file") {
            QFile f(QDir(folder).filePath(QStringLiteral("qv_servo_cpu_V0120.spt")));
            QVERIFY(f.open(QIODevice::Append) && f.write("x") == 1);
        } else if (change == u"list") {
            QFile f(listFilePath(folder));
            QVERIFY(f.open(QIODevice::Append) && f.write("; edited\n") > 0);
        } else if (change == u"copy") {
            arguments << other;
        }
        r = run(QStringList{"update", "--yes", "--no-history", "--resume", report} + arguments, env);
        QCOMPARE(r.exit, 2);
        QVERIFY2(r.err.contains(QStringLiteral("cannot resume from")) && r.err.contains(said), qPrintable(r.err));
        QVERIFY(sims[0]->requests().empty());
    }

    // Output that did not reach its file is a failure, told once; a reader gone ends quietly.
    void outputLost_data()
    {
        QTest::addColumn<QStringList>("arguments");  // "CAMERA", "REPORT", "FOLDER" stand for the test's
        QTest::newRow("scan") << QStringList{"scan", "CAMERA"};
        QTest::newRow("scan --json") << QStringList{"scan", "--json", "CAMERA"};
        QTest::newRow("scan --csv") << QStringList{"scan", "--csv", "CAMERA"};
        QTest::newRow("plan") << QStringList{"plan", "--folder", "FOLDER", "CAMERA"};
        QTest::newRow("plan --json") << QStringList{"plan", "--json", "--folder", "FOLDER", "CAMERA"};
        QTest::newRow("report") << QStringList{"report", "REPORT"};
        QTest::newRow("report --csv") << QStringList{"report", "--csv", "REPORT"};
        QTest::newRow("history") << QStringList{"history"};
        QTest::newRow("history --csv") << QStringList{"history", "--csv"};
        QTest::newRow("--help") << QStringList{"--help"};
        QTest::newRow("update --help") << QStringList{"update", "--help"};
        QTest::newRow("--version") << QStringList{"--version"};
        QTest::newRow("update") << QStringList{"update", "--yes", "--no-history", "--only", "servo_cpu", "--folder", "FOLDER", "CAMERA"};
    }

    void outputLost()
    {
        QFETCH(QStringList, arguments);
        static QStringList addresses;
        static std::vector<std::unique_ptr<CameraSim>> sims;
        if (sims.empty())
            sims = cameras({"127.0.8.9"}, {"pw"}, &addresses);
        QCOMPARE(sims.size(), std::size_t(1));
        QTemporaryDir tmp;
        const QString home = tmp.filePath(QStringLiteral("home"));
        const QString report = tmp.filePath(QStringLiteral("report.json"));
        FleetReport one;
        one.run.folder = m_folder;
        CameraReport camera;
        camera.address = addresses[0];
        camera.end = FleetEnd::UpToDate;
        one.cameras = {camera};
        QVERIFY(writeFile(report, reportJson(one), QFile::ReadOwner | QFile::WriteOwner));
        QString error;
        QVERIFY(appendHistory(QDir(home).filePath(QStringLiteral(".local/state/kelvora/history.jsonl")), one, &error));
        arguments.replaceInStrings(QStringLiteral("CAMERA"), addresses[0]);
        arguments.replaceInStrings(QStringLiteral("REPORT"), report);
        arguments.replaceInStrings(QStringLiteral("FOLDER"), m_folder);
        const QStringList env{"HOME=" + home, "KELVORA_USER=op", "KELVORA_PASSWORD=pw"};

        QProcess full;
        full.setProcessEnvironment(environment(env));
        full.setStandardOutputFile(QStringLiteral("/dev/full"));
        full.start(kExe, arguments);
        Result r = finished(full);
        QCOMPARE(r.exit, 1);
        QCOMPARE(r.err.count(QStringLiteral("kelvora-fleet: cannot write output: No space left on device\n")), 1);

        // A pipe nobody reads any more: no word of it, whatever else the command says.
        QProcess gone;
        gone.setProcessEnvironment(environment(env));
        gone.setChildProcessModifier([] {
            int fds[2];
            if (::pipe(fds) == 0) {
                ::close(fds[0]);
                ::dup2(fds[1], STDOUT_FILENO);
                ::close(fds[1]);
            }
        });
        gone.start(kExe, arguments);
        QVERIFY(gone.waitForFinished(60000));
        const QString err = QString::fromUtf8(gone.readAllStandardError());
        QVERIFY2(!err.contains(QStringLiteral("cannot write output")), qPrintable(err));
        QVERIFY(gone.exitStatus() == QProcess::CrashExit || gone.exitCode() == 1);
    }

    // The history on a full file system: the record that did not fit is taken back whole,
    // the update says so and still ends as its cameras did, and the next record stands alone.
    void historyOnFullDisk()
    {
        QTemporaryDir tmp;
        const QString state = tmp.filePath(QStringLiteral("state"));
        const SmallFileSystem disk(state, "16k");
        if (!disk.mounted())
            QSKIP("needs root and a tmpfs of its own");
        QStringList addresses;
        const auto sims = cameras({"127.0.9.1", "127.0.9.2", "127.0.9.3", "127.0.9.4"}, {"pw", "pw", "pw", "pw"}, &addresses);
        QCOMPARE(sims.size(), std::size_t(4));
        const QStringList env = m_env + QStringList{"KELVORA_USER=op", "KELVORA_PASSWORD=pw", "XDG_STATE_HOME=" + state,
                                                    "XDG_RUNTIME_DIR=" + tmp.filePath(QStringLiteral("run"))};
        const QStringList update{"update", "--yes", "--folder", m_folder, "--only", "servo_cpu"};
        Result r = run(update + addresses.mid(0, 1), env);
        QVERIFY2(r.exit == 0, qPrintable(r.err));
        const QString history = QDir(state).filePath(QStringLiteral("kelvora/history.jsonl"));
        const qint64 whole = QFileInfo(history).size();
        QVERIFY(whole > 0);
        disk.fill(QStringLiteral("filler"));
        // Four cameras' record is longer than what is left of the history's last page.
        r = run(update + addresses, env);
        QVERIFY2(r.exit == 0, qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("cannot add the update to the history")), qPrintable(r.err));
        QCOMPARE(QFileInfo(history).size(), whole);
        QVERIFY(QFile::remove(QDir(state).filePath(QStringLiteral("filler"))));
        r = run(update + addresses, env);
        QVERIFY2(r.exit == 0 && r.err.isEmpty(), qPrintable(r.err));
        r = run({"history"}, env);
        QCOMPARE(r.exit, 0);
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
        QCOMPARE(r.out.count(QStringLiteral("up to date")), 4);
    }

    // Ctrl-C: the camera holding a file is followed to its end, the others say why they
    // never started, and the summary names the command that carries on; that resume keeps
    // the update's runs at once and goes on with each camera's log after a mark.
    void stopAndCarryOn()
    {
        QStringList addresses;
        const auto sims = cameras({"127.0.9.11", "127.0.9.12", "127.0.9.13"}, {"pw", "pw", "pw"}, &addresses);
        QCOMPARE(sims.size(), std::size_t(3));
        QTemporaryDir tmp;
        const QString report = tmp.filePath(QStringLiteral("report.json"));
        const QString logs = tmp.filePath(QStringLiteral("new/logs"));
        const QStringList env = m_env + QStringList{"KELVORA_USER=op", "KELVORA_PASSWORD=pw"};
        const auto p = launch(QStringList{"update", "--yes", "--no-history", "--folder", m_folder, "--only", "servo_cpu,eeprom_cam",
                                          "--parallel", "1", "--report", report, "--log-dir", logs} + addresses, env);
        QByteArray out;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 30000 && p->state() != QProcess::NotRunning && !out.contains(" file 1/2 ")) {
            p->waitForReadyRead(100);
            out += p->readAllStandardOutput();
        }
        QVERIFY2(out.contains(" file 1/2 "), out.constData());
        ::kill(pid_t(p->processId()), SIGINT);
        Result r = finished(*p);
        r.out.prepend(QString::fromUtf8(out));
        QCOMPARE(r.exit, 1);
        QVERIFY2(r.out.contains(QStringLiteral("Carry on with: kelvora-fleet update --resume ") + report), qPrintable(r.out));
        FleetReport stopped;
        QString error;
        QVERIFY2(readReport(report, &stopped, &error), qPrintable(error));
        QCOMPARE(stopped.run.parallel, 1);
        QCOMPARE(stopped.cameras[0].end, FleetEnd::Stopped);
        for (const CameraReport& c : {stopped.cameras[1], stopped.cameras[2]}) {
            QCOMPARE(c.end, FleetEnd::NotStarted);
            QCOMPARE(c.reason, QStringLiteral("stopped before it started"));
        }
        // Logs are private, in a folder of their own.
        const QString log = QDir(logs).filePath(cameraLogFileName(addresses[0]));
        QCOMPARE(modeOf(logs), 0700);
        QCOMPARE(modeOf(log), 0600);
        const qint64 before = QFileInfo(log).size();

        r = run({"update", "--yes", "--no-history", "--resume", report, "--log-dir", logs}, env);
        QVERIFY2(r.exit == 0, qPrintable(r.out + r.err));
        FleetReport resumed;
        QVERIFY(readReport(report, &resumed, &error));
        QCOMPARE(resumed.run.parallel, 1);
        for (std::size_t i = 0; i < 3; ++i) {
            QVERIFY2(resumed.cameras[i].end == FleetEnd::Completed && resumed.cameras[i].verified, qPrintable(addresses[qsizetype(i)]));
            QCOMPARE(acceptedUploads(*sims[i]).size(), std::size_t(2));
            for (const auto& [component, times] : acceptedUploads(*sims[i]))
                QVERIFY2(times == 1, component.c_str());
        }
        const QByteArray text = readFile(log);
        QVERIFY(QFileInfo(log).size() > before);
        QVERIFY(text.indexOf("■DEBUG■DIAPRO_StartVerUp()") < text.indexOf(kResumedMark));
        QVERIFY(text.indexOf(kResumedMark, text.indexOf(kResumedMark)) > 0 && text.lastIndexOf("■DEBUG■DIAPRO_StartVerUp()") > text.indexOf(kResumedMark));
    }

    // kill -9 in mid-update, then --resume: every camera ends done, and none is sent a file
    // it already took before the kill.
    void resumeAfterKill()
    {
        QStringList hosts;
        for (int i = 1; i <= 8; ++i)
            hosts << QStringLiteral("127.0.4.%1").arg(i);
        QStringList addresses;
        const auto sims = cameras(hosts, std::vector<std::string>(8, "pw"), &addresses);
        QCOMPARE(sims.size(), std::size_t(8));
        const QString report = m_tmp.filePath(QStringLiteral("killed.json"));
        const QStringList env = m_env + QStringList{"KELVORA_USER=op", "KELVORA_PASSWORD=pw"};
        QProcess p;
        p.setProcessEnvironment(environment(env));
        // --all: every file named goes, whatever the camera runs; a resumed update still
        // never sends again what a camera took before the kill.
        p.start(kExe, QStringList{"update", "--yes", "--folder", m_folder, "--all", "--only", "servo_cpu,eeprom_cam", "--parallel", "2",
                                  "--report", report} + addresses);
        // Killed once some cameras have ended and others have not.
        QElapsedTimer clock;
        clock.start();
        int ended = 0;
        while (clock.elapsed() < 60000 && p.state() != QProcess::NotRunning) {
            FleetReport now;
            QString error;
            ended = 0;
            if (readReport(report, &now, &error)) {
                for (const CameraReport& c : now.cameras)
                    ended += c.end != FleetEnd::Pending ? 1 : 0;
            }
            if (ended >= 3)
                break;
            p.waitForFinished(50);
        }
        QVERIFY2(ended >= 3 && ended < 8, qPrintable(QString::number(ended)));
        p.kill();
        QVERIFY(p.waitForFinished(5000));

        FleetReport killed;
        QString error;
        QVERIFY2(readReport(report, &killed, &error), qPrintable(error));
        QVERIFY(!killed.run.ended.isValid());
        const Result r = run({"update", "--yes", "--resume", report}, env);
        QVERIFY2(r.exit == 0, qPrintable(r.out + r.err));
        QVERIFY(r.err.contains(QStringLiteral("resuming")));
        FleetReport resumed;
        QVERIFY(readReport(report, &resumed, &error));
        QCOMPARE(resumed.cameras.size(), std::size_t(8));
        for (std::size_t i = 0; i < 8; ++i) {
            const CameraReport& c = resumed.cameras[i];
            QVERIFY2((c.end == FleetEnd::Completed && c.verified) || c.end == FleetEnd::UpToDate, qPrintable(c.address));
            for (const auto& [component, times] : acceptedUploads(*sims[i]))
                QVERIFY2(times == 1, qPrintable(c.address + QLatin1Char(' ') + QString::fromStdString(component)));
            QCOMPARE(acceptedUploads(*sims[i]).size(), std::size_t(2));
        }
    }
};

QTEST_GUILESS_MAIN(TestFleetRun)
#include "tst_fleetrun.moc"
