// A fleet of eight simulated cameras of mixed families, some failing, updated in one go
// by the fleet's driver: each camera ends as it should without disturbing the others, and
// every camera that took its files received, byte for byte, what the window itself sends
// that camera for the same components.
#include "app/mainwindow.h"
#include "fleet/fleetdriver.h"
#include "launch/credentials.h"
#include "sim/camerasim.h"
#include "sim/samplefolder.h"
#include "tests/support/logcapture.h"
#include "tests/support/operator.h"

#include <QDir>
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

} // namespace

class TestFleet : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
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
        FleetDriver driver;
        driver.setTickIntervals(1, 1);
        QEventLoop loop;
        connect(&driver, &FleetDriver::inquiriesDone, &loop, &QEventLoop::quit);
        driver.inquire(addresses, 8);
        if (!driver.inquiriesFinished())
            loop.exec();

        FirmwareFolder folder;
        QString error;
        QVERIFY2(folder.open(m_dir.path(), &error), qPrintable(error));
        std::vector<PlanEntry> entries;
        for (const ScanResult& scan : driver.scans()) {
            PlanEntry entry;
            entry.scan = scan;
            if (scan.ok)
                entry.plan = planCamera(folder, scan.camera, {});
            entries.push_back(entry);
        }
        QTemporaryDir logs;
        const QString credential = basicCredential(kUser, kPassword);
        QTimer guard;
        connect(&guard, &QTimer::timeout, &loop, [&] { driver.stopNow(); });
        guard.start(60000);
        connect(&driver, &FleetDriver::updatesDone, &loop, &QEventLoop::quit);
        driver.update(entries, 8, credential, {kUser, kPassword, credential}, logs.path());
        if (!driver.updatesFinished())
            loop.exec();
        QVERIFY(guard.isActive());

        // Each camera's own end, message and verdict; the troubled ones left the rest alone.
        const std::vector<CameraReport>& reports = driver.reports();
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
        for (const PlanEntry& e : entries)
            for (const PlannedFile& f : e.plan.files)
                if (!distinct.contains(f.fileName))
                    distinct << f.fileName;
        QVERIFY(driver.firmwareFiles().count() <= distinct.size());
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
            m_sims[i]->clearLog();
            updateThroughWindow(i, members);
            QCOMPARE(uploadsOf(*m_sims[i]), fleetSent);
        }
    }
};

QTEST_MAIN(TestFleet)
#include "tst_fleet.moc"
