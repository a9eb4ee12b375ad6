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
#include "launch/credentials.h"
#include "sim/camerasim.h"
#include "sim/samplefolder.h"
#include "tests/support/logcapture.h"
#include "tests/support/operator.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const QString kUser = QStringLiteral("fleet-op");
const QString kPassword = QStringLiteral("f1eet:pw");

enum class Trouble { None, Credentials, NeverBack, Unreachable, NoMarker };

struct Camera {
    int model;
    Trouble trouble;
    FleetEnd end;
    QString message;
};

// Raw requests an upload brought: its head and body, byte for byte.
QList<QByteArray> uploadsOf(const CameraSim& sim)
{
    QList<QByteArray> out;
    for (const SimRequest& r : sim.uploads())
        out << QByteArray::fromStdString(r.rawHead) + QByteArray::fromStdString(r.upload ? r.upload->body : std::string());
    return out;
}

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
    QString refusal;  // why the update did not start
};

} // namespace

class TestFleet : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QTemporaryDir m_locks;
    int m_filesRead = 0;  // by the last updateAll's plans
    std::vector<std::unique_ptr<CameraSim>> m_sims;
    const std::vector<Camera> m_cameras{
        {CAM_MODELID_QV_TK300, Trouble::None, FleetEnd::Completed, "Process has been completed successfully."},
        {CAM_MODELID_QV_NEW_TK20_H, Trouble::None, FleetEnd::Completed, "Process has been completed successfully."},
        {CAM_MODELID_QV_TKD7_S, Trouble::None, FleetEnd::Completed, "Process has been completed successfully."},
        {CAM_MODELID_QV_OLD_TK15_S, Trouble::Credentials, FleetEnd::UploadFailed, "VerUp Err"},
        {CAM_MODELID_QV_TK300, Trouble::NeverBack, FleetEnd::CameraNotBack, "UpdateNG"},
        {CAM_MODELID_QV_TK10, Trouble::Unreachable, FleetEnd::Unreachable, ""},
        {CAM_MODELID_QV_NEW_TK15_H, Trouble::NoMarker, FleetEnd::UploadRefused, "VerUp Err"},
        {CAM_MODELID_QV_TK10, Trouble::None, FleetEnd::Completed, "Process has been completed successfully."},
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
        case Trouble::None: break;
        }
        m_sims[i]->setFaults(f);
    }

    // The window's own update of camera i with exactly these components ticked.
    void updateThroughWindow(std::size_t i, const QStringList& members)
    {
        Operator op;
        op.folder = m_dir.path();
        op.user = kUser;
        op.password = kPassword;
        op.onProgress = [](DialogProgressBar* progress) { progress->setResetWaitTickInterval(1); };
        MainWindow w;
        w.show();
        child<QLineEdit>(w, "IPAddressWriteSpace")->setText(address(i));
        child<QPushButton>(w, "IPAddressButton")->click();
        QVERIFY(QTest::qWaitFor([&] { return w.mw_ReqCamIndex == 11; }, 5000));
        child<QToolButton>(w, "VerUpFileButton")->click();
        for (const Component& c : kComponents)
            child<QCheckBox>(w, c.checkBox)->setChecked(members.contains(QLatin1String(c.member)));
        child<QPushButton>(w, "VersionUp_Button")->click();
        QCOMPARE(op.texts(), QStringList{"Process has been completed successfully."});
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
            sim->setFaults(f);
            *addresses << QString::fromStdString(sim->address());
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
        QTimer guard;
        connect(&guard, &QTimer::timeout, &loop, [&] { driver.stopNow(); });
        guard.start(30000);
        connect(&update, &FleetUpdate::finished, &loop, &QEventLoop::quit);
        update.start(std::vector<CameraCredential>(entries.size(), {basicCredential(kUser, kPassword), QStringLiteral("environment")}));
        if (!driver.updatesFinished())
            loop.exec();
        update.finish();
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
            updateThroughWindow(i, members);
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
        const Trouble ok = Trouble::None;
        const Trouble refused = Trouble::Credentials;
        QTest::newRow("failing canary, the rest untouched") << std::vector<Trouble>{refused, ok, ok, ok} << 8 << 1 << 0 << false
                                                            << QStringList{"upload-failed", "not-started", "not-started", "not-started"};
        QTest::newRow("canary passes, the rest go") << std::vector<Trouble>{ok, ok, refused} << 8 << 2 << 0 << false
                                                    << QStringList{"completed", "completed", "upload-failed"};
        QTest::newRow("budget of one") << std::vector<Trouble>{refused, refused, ok, ok} << 1 << 0 << 1 << false
                                       << QStringList{"upload-failed", "not-started", "not-started", "not-started"};
        QTest::newRow("budget of two") << std::vector<Trouble>{refused, ok, refused, ok} << 1 << 0 << 2 << false
                                       << QStringList{"upload-failed", "completed", "upload-failed", "not-started"};
        QTest::newRow("up to date the second time") << std::vector<Trouble>{ok, ok} << 8 << 1 << 1 << true
                                                    << QStringList{"up-to-date", "up-to-date"};
    }

    void rules()
    {
        QFETCH(std::vector<Trouble>, troubles);
        QFETCH(int, parallel);
        QFETCH(int, canary);
        QFETCH(int, maxFailures);
        QFETCH(bool, twice);
        QFETCH(QStringList, ends);
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
        for (const CameraReport& r : reports)
            got << fleetEndName(r.end);
        QCOMPARE(got, ends);
        for (std::size_t i = 0; i < reports.size(); ++i) {
            if (reports[i].end == FleetEnd::NotStarted || reports[i].end == FleetEnd::UpToDate)
                QVERIFY2(sims[i]->uploads().empty(), qPrintable(reports[i].address));
        }
        QCOMPARE(updateExitStatus(reports), ends.count(QStringLiteral("completed")) + ends.count(QStringLiteral("up-to-date"))
                                                    == ends.size() ? 0 : 1);
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
