// A fleet of eight simulated cameras of mixed families, some failing, updated in one go
// by the fleet's driver: each camera ends as it should without disturbing the others, and
// every camera that took its files received, byte for byte, what the window itself sends
// that camera for the same components. Then the driver's own rules against simulated
// cameras: the canary, the failure budget, a fleet already up to date, and Ctrl-C twice
// while a camera is being verified.
#include "app/mainwindow.h"
#include "fleet/fleetdriver.h"
#include "fleet/fleetupdate.h"
#include "fleet/fleetpolicy.h"
#include "firmware/sha256sums.h"
#include "launch/credentials.h"
#include "sim/camerasim.h"
#include "tests/support/simuploads.h"
#include "sim/samplefolder.h"
#include "tests/support/logcapture.h"
#include "tests/support/operator.h"
#include "tests/support/windowupdate.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <sys/mount.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <vector>

namespace {

const QString kUser = QStringLiteral("fleet-op");
const QString kPassword = QStringLiteral("f1eet:pw");

enum class Trouble { None, Credentials, NeverBack, Unreachable, NoMarker, Current };

struct Camera {
    int model;
    Trouble trouble;
    FleetEnd end;
    QString message;
    QString reason;  // part of the report's reason: what the camera did
};


bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The report file as the journal has it now; an empty report while it cannot be read.
FleetReport journalled(const QString& path)
{
    FleetReport report;
    QString error;
    return readReport(path, &report, &error) ? report : FleetReport();
}

// Raw requests an upload brought: its head and body, byte for byte.
// The request heads of the inquiries a camera was sent, in order.
QList<QByteArray> inquiriesOf(const CameraSim& sim)
{
    QList<QByteArray> out;
    for (const SimRequest& r : sim.requests()) {
        if (r.kind == SimRequestKind::ModelInquiry || r.kind == SimRequestKind::VersionInquiry)
            out << QByteArray::fromStdString(r.rawHead);
    }
    return out;
}

// An update as the engine carries it out (TestFleet::updateAll), and what a test does on its way.
struct Run {
    FleetUpdateSettings settings;
    QString folder;
    std::function<void(FleetUpdate&, const CameraStatus&)> onStatus;
    std::function<void(FleetUpdate&)> onCanary;
    std::function<void(const QString&)> onRecordFailed;
    QString refusal;  // why the update did not start
};

} // namespace

class TestFleet : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QTemporaryDir m_locks;
    int m_filesRead = 0;  // by the last updateAll's plans
    UpdateRecord::Outcome m_outcome;  // of the last updateAll
    std::vector<std::unique_ptr<CameraSim>> m_sims;
    const std::vector<Camera> m_cameras{
        {CAM_MODELID_QV_TK300, Trouble::None, FleetEnd::Completed, "Process has been completed successfully.", ""},
        {CAM_MODELID_QV_NEW_TK20_H, Trouble::None, FleetEnd::Completed, "Process has been completed successfully.", ""},
        {CAM_MODELID_QV_TKD7_S, Trouble::None, FleetEnd::Completed, "Process has been completed successfully.", ""},
        {CAM_MODELID_QV_OLD_TK15_S, Trouble::Credentials, FleetEnd::UploadFailed, "VerUp Err",
         "the camera refused the credentials (HTTP 401)"},
        {CAM_MODELID_QV_TK300, Trouble::NeverBack, FleetEnd::CameraNotBack, "UpdateNG", "did not answer again within"},
        {CAM_MODELID_QV_TK10, Trouble::Unreachable, FleetEnd::Unreachable, "", "refused"},
        {CAM_MODELID_QV_NEW_TK15_H, Trouble::NoMarker, FleetEnd::UploadRefused, "VerUp Err",
         "the camera answered HTTP 200 without taking the file"},
        {CAM_MODELID_QV_TK10, Trouble::None, FleetEnd::Completed, "Process has been completed successfully.", ""},
    };

    QStringList m_addresses;  // as started: a stopped camera keeps its address
    QString address(std::size_t i) const { return m_addresses[qsizetype(i)]; }

    void applyTrouble(std::size_t i)
    {
        SimFaults f;
        switch (m_cameras[i].trouble) {
        case Trouble::Credentials: f.rejectCredentials = true; break;
        case Trouble::NeverBack: f.upload = SimUploadFault::NeverReturn; break;
        case Trouble::NoMarker: f.upload = SimUploadFault::Refuse; break;
        case Trouble::Unreachable: m_sims[i]->stop(); break;
        case Trouble::None:
        case Trouble::Current: break;
        }
        m_sims[i]->setFaults(f);
    }

    // Cameras of one model with one trouble each, at the sample folder's old versions.
    std::vector<std::unique_ptr<CameraSim>> startCameras(const std::vector<Trouble>& troubles, QStringList* addresses)
    {
        std::vector<std::unique_ptr<CameraSim>> sims;
        for (Trouble t : troubles) {
            auto sim = std::make_unique<CameraSim>();
            if (sim->start() <= 0 || !sim->setModel(CAM_MODELID_QV_TK300))
                return {};
            sim->setCredentials(kUser.toLatin1().toStdString(), kPassword.toStdString());
            sim->setRestartTime(std::chrono::milliseconds(20));
            SimFaults f;
            f.rejectCredentials = t == Trouble::Credentials;
            if (t == Trouble::NeverBack)
                f.upload = SimUploadFault::NeverReturn;
            *addresses << QString::fromStdString(sim->address());
            // Already at the folder's versions, by an update of its own.
            if (t == Trouble::Current && updateAll({addresses->back()}, UpdateOptions()).size() != 1)
                return {};
            sim->setFaults(f);
            if (t == Trouble::Unreachable)
                sim->stop();
            sims.push_back(std::move(sim));
        }
        return sims;
    }

    // The engine's whole update of `addresses` from `settings` (the sample folder unless
    // another is given), as kelvora-fleet carries it out, on ticks of a millisecond;
    // `onStatus` sees every status as it is published, `filesRead` how many files the
    // plans read.
    std::vector<CameraReport> updateAll(const QStringList& addresses, const UpdateOptions& options)
    {
        return updateAll(addresses, options, Run());
    }

    std::vector<CameraReport> updateAll(const QStringList& addresses, UpdateOptions options, Run run)
    {
        FirmwareFolder folder;
        QString error;
        if (!folder.open(run.folder.isEmpty() ? m_dir.path() : run.folder, &error))
            return {};
        run.settings.addresses = addresses;
        run.settings.options = options;
        run.settings.inquiries = 8;
        run.settings.lockFolder = m_locks.path();
        FleetUpdate update(run.settings, &folder);
        FleetDriver& driver = update.driver();
        driver.setTickIntervals(1, 1);
        QEventLoop loop;
        if (!update.lock(&run.refusal) || !update.begin(&run.refusal))
            return {};
        connect(&update, &FleetUpdate::askedAll, &loop, &QEventLoop::quit);
        update.ask();
        if (!update.askingDone())
            loop.exec();
        const std::vector<PlanEntry>& entries = update.plan();
        if (run.onStatus)
            connect(&driver, &FleetDriver::statusChanged, &driver, [&](const CameraStatus& s) { run.onStatus(update, s); });
        if (run.onCanary)
            connect(&driver, &FleetDriver::canaryDone, &driver, [&] { run.onCanary(update); });
        if (run.onRecordFailed)
            connect(&update, &FleetUpdate::recordFailed, &driver, run.onRecordFailed);
        QTimer guard;
        connect(&guard, &QTimer::timeout, &loop, [&] { driver.stopNow(); });
        guard.start(30000);
        connect(&update, &FleetUpdate::finished, &loop, &QEventLoop::quit);
        update.start(std::vector<CameraCredential>(entries.size(), {basicCredential(kUser, kPassword), QStringLiteral("environment")}));
        if (!driver.updatesFinished())
            loop.exec();
        m_outcome = update.finish();
        m_filesRead = folder.filesRead();
        return guard.isActive() ? driver.reports() : std::vector<CameraReport>();
    }

private slots:
    void initTestCase()
    {
        // The shared code traces every step; this test reads only its own failures.
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        QVERIFY(m_dir.isValid() && writeSampleFolder(m_dir.path().toStdString()));
        for (const Camera& c : m_cameras) {
            auto sim = std::make_unique<CameraSim>();
            QVERIFY(sim->start() > 0 && sim->setModel(c.model));
            sim->setCredentials(kUser.toLatin1().toStdString(), kPassword.toStdString());
            sim->setRestartTime(std::chrono::milliseconds(20));
            m_addresses << QString::fromStdString(sim->address());
            m_sims.push_back(std::move(sim));
        }
    }

    void fleetUpdate()
    {
        QStringList addresses;
        for (std::size_t i = 0; i < m_cameras.size(); ++i) {
            addresses << address(i);
            applyTrouble(i);
        }
        QTemporaryDir logs;
        UpdateOptions options;
        options.logDir = logs.path();
        options.secrets = {kPassword, basicCredential(kUser, kPassword)};
        const std::vector<CameraReport> reports = updateAll(addresses, options);

        // Each camera's own end, message and verdict; the troubled ones left the rest alone.
        QCOMPARE(reports.size(), m_cameras.size());
        for (std::size_t i = 0; i < m_cameras.size(); ++i) {
            const CameraReport& r = reports[i];
            QCOMPARE(r.address, address(i));
            QCOMPARE(fleetEndName(r.end), fleetEndName(m_cameras[i].end));
            QCOMPARE(r.message, m_cameras[i].message);
            QCOMPARE(r.verified, m_cameras[i].end == FleetEnd::Completed);
            // What the camera did, for the operator; nothing for a camera that did well.
            QVERIFY2(m_cameras[i].reason.isEmpty() ? r.reason.isEmpty() : r.reason.contains(m_cameras[i].reason),
                     qPrintable(r.reason));
        }
        // Every firmware file was read once, however many cameras took it.
        QStringList distinct;
        for (const CameraReport& r : reports)
            for (const ReportedFile& f : r.files)
                if (!distinct.contains(f.fileName))
                    distinct << f.fileName;
        QCOMPARE(m_filesRead, distinct.size());
        // Each camera's trace in its own file, and no credential in any of them.
        const QStringList files = QDir(logs.path()).entryList(QDir::Files);
        QCOMPARE(files.size(), 7);  // all but the unreachable camera
        for (const QString& name : files) {
            QFile log(QDir(logs.path()).filePath(name));
            QVERIFY(log.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(log.readAll());
            QVERIFY(text.contains(QStringLiteral("■DEBUG■DIAPRO_StartVerUp()")));
            for (const QString& secret : credentialForms(kUser, kPassword))
                QVERIFY2(!text.contains(secret), qPrintable(name));
        }

        // The window's own update of each camera that took its files, with the same
        // components, from the camera as it was: the same bytes, request for request.
        for (std::size_t i = 0; i < m_cameras.size(); ++i) {
            if (m_cameras[i].end != FleetEnd::Completed)
                continue;
            const QList<QByteArray> fleetSent = uploadsOf(*m_sims[i]);
            QStringList members;
            for (const ReportedFile& f : reports[i].files)
                members << QLatin1String(kComponents[std::size_t(f.component)].member);
            QCOMPARE(fleetSent.size(), members.size());
            QVERIFY(m_sims[i]->setModel(m_cameras[i].model));  // its versions as before
            const QList<QByteArray> fleetAsked = inquiriesOf(*m_sims[i]);
            m_sims[i]->clearLog();
            updateThroughMainWindow(address(i), m_dir.path(), kUser, kPassword, members);
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(uploadsOf(*m_sims[i]), fleetSent);
            // The inquiries too, head for head, though the fleet sends them on its own
            // connections and the window's Connect through Qt's access manager.
            QCOMPARE(inquiriesOf(*m_sims[i]).mid(0, 10), fleetAsked.mid(0, 10));
        }
    }

    // The canary goes first, alone; the failure budget stops the starts; a fleet that runs
    // the folder's versions is up to date. A camera held back is never sent a byte.
    void rules_data()
    {
        QTest::addColumn<std::vector<Trouble>>("troubles");
        QTest::addColumn<int>("parallel");
        QTest::addColumn<int>("canary");
        QTest::addColumn<int>("maxFailures");
        QTest::addColumn<bool>("twice");  // the same update again, once the first has ended
        QTest::addColumn<QStringList>("ends");
        QTest::addColumn<QString>("canaries");  // "c" for each camera that was the canary
        const Trouble ok = Trouble::None;
        const Trouble refused = Trouble::Credentials;
        const Trouble current = Trouble::Current;
        const Trouble gone = Trouble::Unreachable;
        QTest::newRow("failing canary, the rest untouched") << std::vector<Trouble>{refused, ok, ok, ok} << 8 << 1 << 0 << false
                                                            << QStringList{"upload-failed", "not-started", "not-started", "not-started"}
                                                            << "c...";
        QTest::newRow("canary passes, the rest go") << std::vector<Trouble>{ok, ok, refused} << 8 << 2 << 0 << false
                                                    << QStringList{"completed", "completed", "upload-failed"} << "cc.";
        // Cameras that have nothing to send, or cannot be reached, prove nothing about the firmware.
        QTest::newRow("canary after one up to date and one unreachable")
            << std::vector<Trouble>{current, gone, ok, ok} << 8 << 1 << 0 << false
            << QStringList{"up-to-date", "unreachable", "completed", "completed"} << "..c.";
        QTest::newRow("failing canary after one up to date and one unreachable")
            << std::vector<Trouble>{current, gone, refused, ok} << 8 << 1 << 0 << false
            << QStringList{"up-to-date", "unreachable", "upload-failed", "not-started"} << "..c.";
        QTest::newRow("budget of one") << std::vector<Trouble>{refused, refused, ok, ok} << 1 << 0 << 1 << false
                                       << QStringList{"upload-failed", "not-started", "not-started", "not-started"} << "....";
        QTest::newRow("budget of two") << std::vector<Trouble>{refused, ok, refused, ok} << 1 << 0 << 2 << false
                                       << QStringList{"upload-failed", "completed", "upload-failed", "not-started"} << "....";
        QTest::newRow("up to date the second time") << std::vector<Trouble>{ok, ok} << 8 << 1 << 1 << true
                                                    << QStringList{"up-to-date", "up-to-date"} << "..";
    }

    void rules()
    {
        QFETCH(std::vector<Trouble>, troubles);
        QFETCH(int, parallel);
        QFETCH(int, canary);
        QFETCH(int, maxFailures);
        QFETCH(bool, twice);
        QFETCH(QStringList, ends);
        QFETCH(QString, canaries);
        QStringList addresses;
        const auto sims = startCameras(troubles, &addresses);
        QCOMPARE(sims.size(), troubles.size());
        UpdateOptions options;
        options.parallel = parallel;
        options.canary = canary;
        options.maxFailures = maxFailures;
        std::vector<CameraReport> reports;
        for (int round = 0; round < (twice ? 2 : 1); ++round) {
            for (const auto& sim : sims)
                sim->clearLog();
            reports = updateAll(addresses, options);
        }
        QStringList got;
        QString chosen;
        for (const CameraReport& r : reports) {
            got << fleetEndName(r.end);
            chosen += r.canary ? u'c' : u'.';
        }
        QCOMPARE(got, ends);
        QCOMPARE(chosen, canaries);
        for (std::size_t i = 0; i < reports.size(); ++i) {
            if (reports[i].end == FleetEnd::NotStarted || reports[i].end == FleetEnd::UpToDate)
                QVERIFY2(sims[i]->uploads().empty(), qPrintable(reports[i].address));
        }
        QCOMPARE(updateExitStatus(reports), ends.count(QStringLiteral("completed")) + ends.count(QStringLiteral("up-to-date"))
                                                    == ends.size() ? 0 : 1);
    }

    // Ctrl-C during file 6 of 7 of a TK20-class camera, then a resume from the report: each
    // file reaches the camera once, the interface EEPROM file too, whose version no inquiry
    // reports. The camera after it, never started, says so.
    void stopThenResume()
    {
        QStringList addresses;
        auto sims = startCameras({Trouble::None, Trouble::None}, &addresses);
        QCOMPARE(sims.size(), std::size_t(2));
        QVERIFY(sims[0]->setModel(CAM_MODELID_QV_NEW_TK20_H));
        QTemporaryDir tmp;
        const QString report = tmp.filePath(QStringLiteral("report.json"));
        UpdateOptions options;
        options.parallel = 1;
        Run first;
        first.settings.reportPath = report;
        first.settings.choice.all = true;
        bool stopped = false;
        first.onStatus = [&](FleetUpdate& update, const CameraStatus& s) {
            if (!stopped && s.fileNumber == 6 && s.phase == CameraStatus::Phase::Uploading) {
                stopped = true;
                update.driver().stopStarting();
            }
        };
        std::vector<CameraReport> reports = updateAll(addresses, options, first);
        QVERIFY(stopped);
        QCOMPARE(reports.size(), std::size_t(2));
        QCOMPARE(reports[0].end, FleetEnd::Stopped);
        QCOMPARE(reports[0].files.size(), std::size_t(7));
        QCOMPARE(reports[1].end, FleetEnd::NotStarted);
        QCOMPARE(reports[1].reason, QStringLiteral("stopped before it started"));
        int taken = 0;
        for (const ReportedFile& f : reports[0].files)
            taken += f.accepted ? 1 : 0;
        QCOMPARE(taken, 6);

        Run resume;
        resume.settings.reportPath = report;
        resume.settings.earlier = journalled(report);
        QCOMPARE(resume.settings.earlier->cameras.size(), std::size_t(2));
        resume.settings.choice = resume.settings.earlier->run.choice;
        reports = updateAll(addresses, options, resume);
        QCOMPARE(reports.size(), std::size_t(2));
        for (const CameraReport& r : reports)
            QVERIFY2(r.end == FleetEnd::Completed && r.verified, qPrintable(r.address + QLatin1Char(' ') + fleetEndName(r.end)));
        const auto took = acceptedUploads(*sims[0]);
        QCOMPARE(took.size(), std::size_t(7));
        for (const auto& [component, times] : took)
            QVERIFY2(times == 1, component.c_str());
        // The first camera's report holds all seven files, six of them the earlier run's.
        QCOMPARE(reports[0].files.size(), std::size_t(7));
        int earlier = 0;
        for (const ReportedFile& f : reports[0].files)
            earlier += f.earlier ? 1 : 0;
        QCOMPARE(earlier, 6);
    }

    // The report holds a file as soon as the camera has taken it, before the camera has ended:
    // an update killed while the camera writes it knows it went out. Resumed, the camera
    // still restarting is waited for, as a run waits, and never sent the file again.
    void journalKeepsWhatWasTaken()
    {
        QStringList addresses;
        auto sims = startCameras({Trouble::NeverBack}, &addresses);
        QCOMPARE(sims.size(), std::size_t(1));
        QTemporaryDir tmp;
        const QString report = tmp.filePath(QStringLiteral("report.json"));
        Run first;
        first.settings.reportPath = report;
        first.settings.choice.only = {componentIndexOfKey(QStringLiteral("servo_cpu")), componentIndexOfKey(QStringLiteral("eeprom_cam"))};
        FleetReport whileWriting;
        first.onStatus = [&](FleetUpdate& update, const CameraStatus& s) {
            if (s.phase != CameraStatus::Phase::Restarting || !whileWriting.cameras.empty())
                return;
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < 5000 && (whileWriting.cameras.empty() || whileWriting.cameras[0].files.empty()
                                              || !whileWriting.cameras[0].files[0].accepted)) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
                whileWriting = journalled(report);
            }
            // Killed now, as far as the camera can tell: the run stops watching it at once.
            update.driver().stopNow();
        };
        std::vector<CameraReport> reports = updateAll(addresses, UpdateOptions(), first);
        QCOMPARE(whileWriting.cameras.size(), std::size_t(1));
        QCOMPARE(whileWriting.cameras[0].end, FleetEnd::Pending);
        QCOMPARE(whileWriting.cameras[0].files.size(), std::size_t(2));
        QVERIFY(whileWriting.cameras[0].files[0].accepted);
        QVERIFY(!whileWriting.cameras[0].files[1].accepted);
        QCOMPARE(reports[0].end, FleetEnd::Stopped);

        // Back a while after the resume has begun to ask.
        sims[0]->setFaults(SimFaults());
        QTimer::singleShot(300, this, [&] { sims[0]->finishRestartNow(); });
        Run resume;
        resume.settings.reportPath = report;
        resume.settings.earlier = journalled(report);
        resume.settings.choice = resume.settings.earlier->run.choice;
        reports = updateAll(addresses, UpdateOptions(), resume);
        QCOMPARE(reports.size(), std::size_t(1));
        QVERIFY2(reports[0].end == FleetEnd::Completed && reports[0].verified, qPrintable(reports[0].reason));
        for (const auto& [component, times] : acceptedUploads(*sims[0]))
            QVERIFY2(times == 1, component.c_str());
        QCOMPARE(acceptedUploads(*sims[0]).size(), std::size_t(2));
    }

    // What the plan judged is what every camera is sent, judged by the SHA256SUMS the plan
    // read: what changes in the folder between the canary and the others changes nothing.
    void judgedBytesAreSent_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("SHA256SUMS deleted, the link retargeted") << "retarget";
        QTest::newRow("SHA256SUMS rewritten without the file") << "unlist";
    }

    void judgedBytesAreSent()
    {
        QFETCH(QString, change);
        QTemporaryDir folder;
        QVERIFY(writeSampleFolder(folder.path().toStdString()));
        const QDir dir(folder.path());
        const QString servo = QStringLiteral("qv_servo_cpu_V0120.spt");
        const QByteArray judged = readFile(dir.filePath(servo));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("judged.spt")), judged));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("other.spt")), judged + "never judged\n"));
        QVERIFY(QFile::remove(dir.filePath(servo)));
        QVERIFY(QFile::link(QStringLiteral("judged.spt"), dir.filePath(servo)));
        QString error;
        QVERIFY(writeFolderSums(folder.path(), {servo}, nullptr, &error));
        QStringList addresses;
        auto sims = startCameras({Trouble::None, Trouble::None, Trouble::None}, &addresses);
        QCOMPARE(sims.size(), std::size_t(3));
        UpdateOptions options;
        options.canary = 1;
        Run run;
        run.folder = folder.path();
        run.settings.choice.only = {componentIndexOfKey(QStringLiteral("servo_cpu"))};
        run.onCanary = [&](FleetUpdate&) {
            if (change == u"unlist") {
                QVERIFY(writeFolderSums(folder.path(), {QStringLiteral("judged.spt")}, nullptr, &error));
                return;
            }
            QVERIFY(QFile::remove(dir.filePath(QLatin1String(kSumsFileName))));
            QVERIFY(QFile::remove(dir.filePath(servo)));
            QVERIFY(QFile::link(QStringLiteral("other.spt"), dir.filePath(servo)));
        };
        const std::vector<CameraReport> reports = updateAll(addresses, options, run);
        QCOMPARE(reports.size(), std::size_t(3));
        for (std::size_t i = 0; i < sims.size(); ++i) {
            QVERIFY2(reports[i].end == FleetEnd::Completed && reports[i].verified, qPrintable(reports[i].address));
            const std::vector<SimRequest> uploads = sims[i]->uploads();
            QCOMPARE(uploads.size(), std::size_t(1));
            QVERIFY(uploads[0].upload->body.find("never judged") == std::string::npos);
        }
    }

    // The report could not be kept any more (a full file system): no further camera starts,
    // and the update says its record failed.
    void recordLost()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to mount a small file system");
        QTemporaryDir tmp;
        const QString small = tmp.filePath(QStringLiteral("small"));
        QVERIFY(QDir().mkpath(small));
        if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("cannot mount a tmpfs here");
        const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(small).constData(), MNT_DETACH); });
        QStringList addresses;
        auto sims = startCameras({Trouble::None, Trouble::None, Trouble::None}, &addresses);
        QCOMPARE(sims.size(), std::size_t(3));
        UpdateOptions options;
        options.parallel = 1;
        Run run;
        run.settings.reportPath = QDir(small).filePath(QStringLiteral("report.json"));
        run.settings.choice.only = {componentIndexOfKey(QStringLiteral("servo_cpu"))};
        bool filled = false;
        run.onStatus = [&](FleetUpdate&, const CameraStatus& s) {
            if (filled || s.phase != CameraStatus::Phase::Uploading)
                return;
            filled = true;
            QFile filler(QDir(small).filePath(QStringLiteral("filler")));
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'x');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
        };
        QString recordError;
        run.onRecordFailed = [&](const QString& error) { recordError = error; };
        const std::vector<CameraReport> reports = updateAll(addresses, options, run);
        QVERIFY(filled);
        QCOMPARE(reports.size(), std::size_t(3));
        QVERIFY2(recordError.contains(QStringLiteral("No space left")), qPrintable(recordError));
        QCOMPARE(reports[0].end, FleetEnd::Completed);
        QCOMPARE(reports[1].end, FleetEnd::NotStarted);
        QCOMPARE(reports[2].end, FleetEnd::NotStarted);
        QVERIFY(!m_outcome.reportWritten);
        QVERIFY(sims[1]->uploads().empty() && sims[2]->uploads().empty());
    }

    // Ctrl-C twice while a camera is being verified: the verification's answer may come
    // before the inquiry is deleted, and nothing may then write to the camera's log.
    void stopTwiceWhileVerifying()
    {
        QStringList addresses;
        const auto sims = startCameras({Trouble::None}, &addresses);
        QTemporaryDir logs;
        UpdateOptions options;
        options.logDir = logs.path();
        bool stopped = false;
        Run run;
        run.onStatus = [&](FleetUpdate& update, const CameraStatus& s) {
            if (s.phase != CameraStatus::Phase::Verifying || stopped)
                return;
            stopped = true;
            FleetDriver& driver = update.driver();
            QTimer::singleShot(0, &driver, [&] {
                driver.stopStarting();
                driver.stopNow();
                // Inside this slot the deferred deletes wait: the camera's answer comes first.
                QElapsedTimer clock;
                clock.start();
                while (clock.elapsed() < 300)
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            });
        };
        const auto reports = updateAll(addresses, options, run);
        QVERIFY(stopped);
        QCOMPARE(reports.size(), std::size_t(1));
        QCOMPARE(reports[0].end, FleetEnd::Completed);
        QVERIFY(!reports[0].verified);
    }
};

QTEST_MAIN(TestFleet)
#include "tst_fleet.moc"
