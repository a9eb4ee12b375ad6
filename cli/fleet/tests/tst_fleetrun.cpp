// kelvora-fleet run as the operator runs it, against simulated cameras on loopback
// addresses of their own: cameras with their own passwords from a credentials file, a fleet
// that is up to date, an update killed in mid-run and resumed from its report, and the
// report, CSV and history read back. No secret may show in any output, report or log.
#include "fleet/fleetreport.h"
#include "sim/camerasim.h"
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

#include <unistd.h>

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

// Without a terminal (a session of its own), with only the environment given.
Result run(const QStringList& arguments, const QStringList& env, int boundMs = 60000)
{
    QProcess p;
    p.setProcessEnvironment(environment(env));
    p.setChildProcessModifier([] { ::setsid(); });
    p.start(kExe, arguments);
    if (!p.waitForFinished(boundMs)) {
        p.kill();
        p.waitForFinished(5000);
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
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

// Accepted uploads of each component, as the camera took them.
std::map<std::string, int> accepted(const CameraSim& sim)
{
    std::map<std::string, int> count;
    for (const SimRequest& r : sim.uploads()) {
        if (r.upload && r.upload->accepted)
            ++count[r.upload->component];
    }
    return count;
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
        Result r = run(update + addresses, env);
        QVERIFY2(r.exit == 0, qPrintable(r.out + r.err));

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
            // What went out, as the customer's record has it.
            const QByteArray sent = readFile(QDir(m_folder).filePath(c.files[1].fileName));
            QCOMPARE(c.files[1].size, qint64(sent.size()));
            QCOMPARE(c.files[1].sha256, QString::fromLatin1(QCryptographicHash::hash(sent, QCryptographicHash::Sha256).toHex()));
        }
        QCOMPARE(back.run.folder, QDir(m_folder).absolutePath());
        QVERIFY(r.out.contains(QStringLiteral("file line 3")));

        // Done is done: the same fleet again plans nothing and updates nothing, and says so.
        r = run(QStringList{"plan", "--folder", m_folder, "--only", "servo_cpu,eeprom_cam"} + addresses, m_env);
        QCOMPARE(r.exit, 0);
        QCOMPARE(r.out.count(QStringLiteral("up to date")), 4);
        r = run(update + addresses, env);
        QVERIFY2(r.exit == 0, qPrintable(r.out + r.err));
        QVERIFY(r.out.contains(QStringLiteral("up to date")));
        for (const auto& sim : sims) {
            const auto taken = accepted(*sim);
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
    }

    void sealedFolder()
    {
        QFETCH(QByteArray, sums);
        QFETCH(QString, refused);
        QTemporaryDir dir;
        QVERIFY(writeSampleFolder(dir.path().toStdString()));
        QVERIFY(writeFile(QDir(dir.path()).filePath(QStringLiteral("SHA256SUMS")), sums, QFile::ReadOwner | QFile::WriteOwner));
        QStringList addresses;
        const auto sims = cameras({"127.0.5.1"}, {"pw"}, &addresses);
        QCOMPARE(sims.size(), std::size_t(1));
        const QStringList only{"--folder", dir.path(), "--only", "servo_cpu,eeprom_cam"};
        Result r = run(QStringList{"plan"} + only + addresses, m_env);
        QCOMPARE(r.exit, 1);
        QVERIFY2(r.out.contains(QStringLiteral("sum-refused: SHA256SUMS refuses ") + refused), qPrintable(r.out));
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
            for (const auto& [component, times] : accepted(*sims[i]))
                QVERIFY2(times == 1, qPrintable(c.address + QLatin1Char(' ') + QString::fromStdString(component)));
            QCOMPARE(accepted(*sims[i]).size(), std::size_t(2));
        }
    }
};

QTEST_GUILESS_MAIN(TestFleetRun)
#include "tst_fleetrun.moc"
