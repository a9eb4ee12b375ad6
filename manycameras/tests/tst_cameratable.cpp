// The many-camera window's table and session without any widget, against simulated cameras
// on loopback: a mixed site scanned (answers fill rows as they come, failures stay as greyed
// rows), plans and default ticks from a folder, and whole updates through the engine: a
// refused password failing only its camera, a failing canary holding the rest, Stop once
// (no further camera starts) and a resume that never sends a file twice, Stop twice while a
// camera holds a file. No secret reaches the table, the report, a trace or the history.
#include "fleet/fleetreport.h"
#include "launch/credentials.h"
#include "manycameras/cameratablemodel.h"
#include "manycameras/sitesession.h"
#include "sim/camerasim.h"
#include "manycameras/tests/sitefixture.h"
#include "sim/samplefolder.h"
#include "tests/support/simuploads.h"
#include "update/updatelock.h"

#include <QDirIterator>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const QString kUser = kSiteUser;
const QString kPassword = kSitePassword;
using Standing = CameraTableModel::Standing;

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every byte the update left on disk: report, traces, history.
QByteArray everythingWritten(const QString& root)
{
    QByteArray all;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        all += readAll(it.next());
    return all;
}

} // namespace

class TestCameraTable : public QObject, public SiteFixture
{
    Q_OBJECT

    QTemporaryDir m_folder;      // the sample firmware, every model but QV_TK10

    // The inquiry digit of a component of the model's sample files.
    static int qsvOf(int model, const std::string& key)
    {
        for (const SampleFile& f : sampleFirmwareFiles(model)) {
            if (f.key == key)
                return f.component;
        }
        return -1;
    }

    // The files a row's plan sends, from its state ("3 files: ...").
    int plannedFiles(SiteSession& session, const CameraSim& sim)
    {
        const QString state = stateOf(session, sim);
        return state.section(QLatin1Char(' '), 0, 0).toInt();
    }

    // Each file of the plan reached the camera exactly once.
    static bool eachOnce(const CameraSim& sim, int files)
    {
        const auto taken = acceptedUploads(sim);
        return int(taken.size()) == files
            && std::all_of(taken.begin(), taken.end(), [](const auto& t) { return t.second == 1; });
    }

    // Scanned, and planned from the folder, every wait bounded.
    bool scanAndPlan(SiteSession& session, const QStringList& addresses)
    {
        QString why;
        if (!session.scan(addresses.join(QLatin1Char(' ')), QString(), 64, &why))
            return false;
        if (!QTest::qWaitFor([&] { return session.stage() == SiteSession::Stage::Idle; }, 15000))
            return false;
        return session.openFolder(m_folder.path(), &why);
    }

    // An update of the ticked cameras with the user ID and password for all, confirmed or not.
    QString update(SiteSession& session, const UpdateOptions& options, bool go = true,
                   const std::function<void()>& whileRunning = {})
    {
        session.setTickIntervals(1, 1);
        QString question;
        QMetaObject::Connection c = connect(&session, &SiteSession::confirmationDue, this, [&](const QString& q) {
            question = q;
            session.confirm(go);
        });
        QSignalSpy finished(&session, &SiteSession::updateFinished);
        QString why;
        if (!session.update({kUser, kPassword, QStringLiteral("dialog")}, options, &why))
            return QStringLiteral("refused: ") + why;
        if (whileRunning)
            whileRunning();
        const bool ended = finished.count() > 0 || finished.wait(30000);
        disconnect(c);
        return ended ? question : QStringLiteral("did not end");
    }

    QString stateOf(SiteSession& session, const CameraSim& sim)
    {
        return session.model()->stateText(session.model()->rowOf(at(sim)));
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        SampleOptions options;
        for (int model = 1; model <= 12; ++model) {
            if (model != CAM_MODELID_QV_TK10)
                options.models.push_back(model);
        }
        QVERIFY(writeSampleFolder(m_folder.path().toStdString(), options));
    }

    void cleanup() { m_sims.clear(); }

    // Answers fill their rows while the silent address is still being asked; every target
    // that did not answer stays as a greyed row with its reason.
    void scanMixedSite()
    {
        const CameraSim& tk300 = camera(CAM_MODELID_QV_TK300);
        const CameraSim& tk20 = camera(CAM_MODELID_QV_NEW_TK20_H);
        const CameraSim& tk15 = camera(CAM_MODELID_QV_OLD_TK15_S);
        SimFaults silent;
        silent.silentModel = silent.silentVersion = silent.silentOther = true;
        const CameraSim& quiet = camera(CAM_MODELID_QV_TK300, silent);
        SimFaults alien;
        alien.versionWrongPrefix = true;
        const CameraSim& stranger = camera(CAM_MODELID_QV_TK300, alien);
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString refused = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
        closed.close();

        SiteSession session(environment());
        CameraTableModel& model = *session.model();
        int answeredWhileAsking = 0;
        connect(&model, &QAbstractItemModel::dataChanged, this, [&](const QModelIndex& from) {
            if (model.standing(from.row()) == Standing::Answered && session.stage() == SiteSession::Stage::Scanning)
                ++answeredWhileAsking;
        });
        QString why;
        QVERIFY2(session.scan(QStringLiteral("%1,%2 %3\n%4 %5 %6").arg(at(tk300), at(tk20), at(tk15), refused, at(quiet), at(stranger)),
                              QString(), 64, &why),
                 qPrintable(why));
        QCOMPARE(model.rowCount(), 6);
        QVERIFY(QTest::qWaitFor([&] { return session.stage() == SiteSession::Stage::Idle; }, 15000));
        QCOMPARE(answeredWhileAsking, 3);

        const auto row = [&](const CameraSim& sim) { return model.rowOf(at(sim)); };
        QCOMPARE(model.index(row(tk300), CameraTableModel::ModelColumn).data().toString(), QStringLiteral("QV_TK300"));
        QCOMPARE(model.index(row(tk20), CameraTableModel::ModelColumn).data().toString(), QStringLiteral("QV_NEW_TK20_H"));
        QCOMPARE(model.index(row(tk15), CameraTableModel::ModelColumn).data().toString(), QStringLiteral("QV_OLD_TK15_S"));
        // The nine versions, blank where the model has none (the TK20 skips the TK300 components).
        QCOMPARE(model.index(row(tk300), CameraTableModel::FirstVersionColumn + 1).data().toString(),
                 QString::fromStdString(tk300.version(qsvOf(CAM_MODELID_QV_TK300, "network_cpu"))));
        int blanks = 0;
        for (int c = CameraTableModel::FirstVersionColumn; c < CameraTableModel::StateColumn; ++c)
            blanks += model.index(row(tk20), c).data().toString().isEmpty() ? 1 : 0;
        QVERIFY(blanks > 0 && blanks < 9);

        QVERIFY(model.stateText(model.rowOf(refused)).contains(QLatin1String("connection refused")));
        QVERIFY(model.stateText(row(quiet)).contains(QLatin1String("no answer")));
        QVERIFY(model.stateText(row(stranger)).contains(QLatin1String("not a camera of this family")));
        for (int r : {model.rowOf(refused), row(quiet), row(stranger)}) {
            QCOMPARE(model.index(r, 0).data(CameraTableModel::AnsweredRole).toBool(), false);
            QCOMPARE(model.index(r, 0).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::gray));
        }

        CameraFilterModel view;
        view.setSourceModel(&model);
        view.setHideUnanswered(true);
        QCOMPARE(view.rowCount(), 3);
        view.setText(QStringLiteral("tk15"));
        QCOMPARE(view.rowCount(), 1);
        view.setHideUnanswered(false);
        view.setText(QStringLiteral("refused"));
        QCOMPARE(view.rowCount(), 1);
    }

    // Bad targets are refused in the command line's words, naming the item, before anything is asked.
    void badTargets_data()
    {
        QTest::addColumn<QString>("targets");
        QTest::addColumn<QString>("excludes");
        QTest::addColumn<QString>("named");
        QTest::newRow("not an address") << "127.0.0.1 300.1.2.3" << "" << "300.1.2.3";
        QTest::newRow("range too wide") << "127.0.0.0/16" << "" << "127.0.0.0/16";
        QTest::newRow("missing list") << "@/nonexistent/cameras.txt" << "" << "/nonexistent/cameras.txt";
        QTest::newRow("bad port") << "127.0.0.1:99999" << "" << "99999";
        QTest::newRow("bad exclusion") << "127.0.0.1" << "127.0.0.x/24" << "127.0.0.x/24";
        QTest::newRow("all excluded") << "127.0.0.1,127.0.0.2" << "127.0.0.0/30" << "every target is excluded";
        QTest::newRow("nothing") << " , " << "" << "no target";
    }
    void badTargets()
    {
        QFETCH(QString, targets);
        QFETCH(QString, excludes);
        QFETCH(QString, named);
        SiteSession session(environment());
        QString why;
        QVERIFY(!session.scan(targets, excludes, 8, &why));
        QVERIFY2(why.contains(named), qPrintable(why));
        QCOMPARE(session.model()->rowCount(), 0);
        QCOMPARE(session.stage(), SiteSession::Stage::Idle);
    }

    // Each camera's plan in its state, and ticked only when it has something to send.
    void plansAndTicks()
    {
        const CameraSim& old = camera(CAM_MODELID_QV_TK300);
        CameraSim& current = camera(CAM_MODELID_QV_TK300);
        for (const SampleFile& f : sampleFirmwareFiles(CAM_MODELID_QV_TK300))
            current.setVersion(f.component, f.version);
        const CameraSim& noSection = camera(CAM_MODELID_QV_TK10);
        SiteSession session(environment());
        QVERIFY(scanAndPlan(session, {at(old), at(current), at(noSection)}));
        CameraTableModel& model = *session.model();
        const int files = int(sampleFirmwareFiles(CAM_MODELID_QV_TK300).size());
        QVERIFY2(stateOf(session, old).startsWith(QStringLiteral("%1 files: ").arg(files)), qPrintable(stateOf(session, old)));
        QVERIFY(stateOf(session, old).contains(QStringLiteral("network_cpu %1 -> ").arg(QString::fromStdString(old.version(qsvOf(CAM_MODELID_QV_TK300, "network_cpu"))))));
        QCOMPARE(stateOf(session, current), QStringLiteral("up to date"));
        // Without a section of its own the TK10 is judged by the one the window takes for it instead.
        QCOMPARE(stateOf(session, noSection), QStringLiteral("versions refused"));
        QCOMPARE(model.tickedAddresses(), QStringList{at(old)});
        // A camera without a plan to run cannot be ticked; none and all again.
        model.setTicked(model.rowOf(at(current)), true);
        QCOMPARE(model.tickedAddresses(), QStringList{at(old)});
        model.tickAll(false);
        QVERIFY(model.tickedAddresses().isEmpty());
        model.tickAll(true);
        QCOMPARE(model.tickedAddresses(), QStringList{at(old)});

        // Every component with a file: the current camera too; then only the network CPU.
        PlanChoice all;
        all.all = true;
        session.setChoice(all);
        QCOMPARE(model.tickedAddresses(), (QStringList{at(old), at(current)}));
        PlanChoice only;
        only.only = {1};
        session.setChoice(only);
        QVERIFY2(stateOf(session, old).startsWith(QLatin1String("1 file: network_cpu")), qPrintable(stateOf(session, old)));
        QCOMPARE(stateOf(session, current), QStringLiteral("up to date"));
    }

    // One camera refuses the password: its row fails, the others complete and verify, each
    // file reaches each camera once, and the record is where the window keeps it, without a secret.
    void updateWithOneRefusedPassword()
    {
        std::vector<CameraSim*> good{&camera(CAM_MODELID_QV_TK300), &camera(CAM_MODELID_QV_NEW_TK20_H),
                                     &camera(CAM_MODELID_QV_TKD7_S)};
        SimFaults refuse;
        refuse.rejectCredentials = true;
        const CameraSim& locked = camera(CAM_MODELID_QV_TK300, refuse);
        CameraSim& current = camera(CAM_MODELID_QV_TK300);
        for (const SampleFile& f : sampleFirmwareFiles(CAM_MODELID_QV_TK300))
            current.setVersion(f.component, f.version);
        SiteSession session(environment());
        QStringList addresses{at(locked), at(current)};
        for (CameraSim* sim : good)
            addresses << at(*sim);
        QVERIFY(scanAndPlan(session, addresses));
        QVERIFY(session.needsCredentials());
        int files = plannedFiles(session, locked);
        std::vector<int> planned;
        for (CameraSim* sim : good) {
            planned.push_back(plannedFiles(session, *sim));
            files += planned.back();
        }
        // The up-to-date camera is not ticked, so the update leaves it out altogether.
        QCOMPARE(update(session, UpdateOptions()), QStringLiteral("Send %1 files to 4 cameras?").arg(files));

        for (std::size_t i = 0; i < good.size(); ++i) {
            QCOMPARE(stateOf(session, *good[i]), QStringLiteral("completed and verified"));
            QVERIFY(eachOnce(*good[i], planned[i]));
        }
        QVERIFY2(stateOf(session, locked).contains(QLatin1String("401")), qPrintable(stateOf(session, locked)));
        QCOMPARE(session.model()->standing(session.model()->rowOf(at(locked))), Standing::Failed);
        QCOMPARE(session.model()->counts().value(Standing::Succeeded), 3);
        QCOMPARE(session.model()->overallProgress(), 100);

        // The report where the window keeps them, private, and the history.
        const QString reports = m_state.filePath(QStringLiteral("state/kelvora/reports"));
        QCOMPARE(QFileInfo(session.reportPath()).absolutePath(), reports);
        QVERIFY(QFileInfo(session.reportPath()).fileName().startsWith(QLatin1String("update-")));
        QCOMPARE(QFile::permissions(reports) & 0x0077, QFile::Permissions());
        FleetReport report;
        QString error;
        QVERIFY2(readReport(session.reportPath(), &report, &error), qPrintable(error));
        QCOMPARE(report.cameras.size(), std::size_t(4));
        QCOMPARE(report.run.tool, QStringLiteral("kelvora"));
        QVERIFY(readAll(m_state.filePath(QStringLiteral("state/kelvora/history.jsonl"))).contains(at(locked).toUtf8()));
        QVERIFY(readAll(session.traceFile(at(*good[0]))).contains("■DEBUG■"));

        const QByteArray written = everythingWritten(m_state.path());
        QVERIFY(!written.contains(kPassword.toUtf8()));
        QVERIFY(!written.contains(basicCredential(kUser, kPassword).toUtf8()));
        for (int r = 0; r < session.model()->rowCount(); ++r)
            QVERIFY(!session.model()->stateText(r).contains(kPassword));
    }

    // A camera another Kelvora process is updating refuses the whole update, its locks taken
    // a part a turn: nothing is asked or sent, and nothing stays locked.
    void heldCameraRefused()
    {
        std::vector<CameraSim*> sims;
        for (int i = 0; i < 40; ++i)
            sims.push_back(&camera(CAM_MODELID_QV_TK300));
        SiteSession session(environment());
        QStringList addresses;
        for (const CameraSim* sim : sims)
            addresses << at(*sim);
        QVERIFY(scanAndPlan(session, addresses));
        for (CameraSim* sim : sims)
            sim->clearLog();
        const QString last = addresses.last();
        {
            const UpdateLock held = UpdateLock::camera(updateLockFolder(environment()), last);
            QVERIFY(held.held());
            QSignalSpy refused(&session, &SiteSession::refused);
            QString why;
            QVERIFY2(session.update({kUser, kPassword, QStringLiteral("dialog")}, UpdateOptions(), &why), qPrintable(why));
            QVERIFY(refused.wait(5000));
            const QString text = refused.first().first().toString();
            QVERIFY2(text.contains(QStringLiteral("being updated by another Kelvora process: %1 (process %2)")
                                       .arg(last)
                                       .arg(QCoreApplication::applicationPid())),
                     qPrintable(text));
            QCOMPARE(session.stage(), SiteSession::Stage::Idle);
            QTest::qWait(20);
            for (const CameraSim* sim : sims)
                QVERIFY(sim->requests().empty());
        }
        // Let go of, every one: the same update goes through once the other process is gone.
        QVERIFY(update(session, UpdateOptions()).startsWith(QLatin1String("Send ")));
        QCOMPARE(stateOf(session, *sims.back()), QStringLiteral("completed and verified"));
        // Ended, it holds nothing: another update may take every camera at once.
        for (const QString& address : std::as_const(addresses))
            QVERIFY(UpdateLock::camera(updateLockFolder(environment()), address).held());
    }

    // A canary that fails holds every other camera: not one byte reaches them.
    void failingCanaryHoldsTheRest()
    {
        SimFaults refuse;
        refuse.rejectCredentials = true;
        const CameraSim& first = camera(CAM_MODELID_QV_TK300, refuse);
        const CameraSim& second = camera(CAM_MODELID_QV_TK300);
        const CameraSim& third = camera(CAM_MODELID_QV_NEW_TK20_H);
        SiteSession session(environment());
        QVERIFY(scanAndPlan(session, {at(first), at(second), at(third)}));
        UpdateOptions options;
        options.canary = 1;
        QVERIFY(update(session, options).startsWith(QLatin1String("Send ")));
        QCOMPARE(session.model()->standing(session.model()->rowOf(at(first))), Standing::Failed);
        for (const CameraSim* sim : {&second, &third}) {
            QCOMPARE(stateOf(session, *sim), QStringLiteral("not started"));
            QVERIFY(sim->uploads().empty());
        }
    }

    // Stop once while the first camera is at work: it is followed to its end, no other
    // starts. The resume from the report then updates the rest and sends no file twice.
    void stopThenResume()
    {
        const CameraSim& a = camera(CAM_MODELID_QV_TK300);
        const CameraSim& b = camera(CAM_MODELID_QV_NEW_TK20_H);
        const CameraSim& c = camera(CAM_MODELID_QV_TKD7_S);
        SiteSession session(environment());
        QVERIFY(scanAndPlan(session, {at(a), at(b), at(c)}));
        const std::vector<int> planned{plannedFiles(session, a), plannedFiles(session, b), plannedFiles(session, c)};
        UpdateOptions options;
        options.parallel = 1;
        update(session, options, true, [&] {
            QVERIFY(QTest::qWaitFor([&] { return !session.model()->holdingFile().isEmpty(); }, 10000));
            session.stop();
        });
        // Its file followed to the end, its next never posted.
        QCOMPARE(stateOf(session, a), QStringLiteral("stopped"));
        QVERIFY(!a.uploads().empty());
        QCOMPARE(stateOf(session, b), QStringLiteral("not started"));
        QCOMPARE(stateOf(session, c), QStringLiteral("not started"));
        QVERIFY(b.uploads().empty() && c.uploads().empty());

        const QString reportPath = session.reportPath();
        QSignalSpy finished(&session, &SiteSession::updateFinished);
        QString question;
        connect(&session, &SiteSession::confirmationDue, this, [&](const QString& q) {
            question = q;
            session.confirm(true);
        });
        QString why;
        QVERIFY2(session.resume(reportPath, {kUser, kPassword, QStringLiteral("dialog")}, &why), qPrintable(why));
        QVERIFY(finished.wait(30000));
        QVERIFY2(question.endsWith(QLatin1String(" to 3 cameras?")), qPrintable(question));
        const std::vector<const CameraSim*> sims{&a, &b, &c};
        for (std::size_t i = 0; i < sims.size(); ++i) {
            QVERIFY(eachOnce(*sims[i], planned[i]));
            QCOMPARE(stateOf(session, *sims[i]), QStringLiteral("completed and verified"));
        }
        QCOMPARE(session.reportPath(), reportPath);
        // A resume from a report the folder no longer matches is refused, nothing sent.
        QFile list(m_folder.filePath(QStringLiteral("verup_list.ini")));
        const QByteArray before = readAll(list.fileName());
        QVERIFY(list.open(QIODevice::Append) && list.write("\n; edited\n") > 0);
        list.close();
        QVERIFY(!session.resume(reportPath, {kUser, kPassword, QStringLiteral("dialog")}, &why));
        QVERIFY2(why.contains(QLatin1String("cannot resume")), qPrintable(why));
        QVERIFY(list.open(QIODevice::WriteOnly | QIODevice::Truncate) && list.write(before) == before.size());
    }

    // Stop twice while a camera holds a file it never comes back from: the first Stop waits
    // for it, the second stops watching it.
    void stopTwice()
    {
        SimFaults never;
        never.upload = SimUploadFault::NeverReturn;
        const CameraSim& stuck = camera(CAM_MODELID_QV_TK300, never);
        const CameraSim& other = camera(CAM_MODELID_QV_TK300);
        SiteSession session(environment());
        QVERIFY(scanAndPlan(session, {at(stuck), at(other)}));
        UpdateOptions options;
        options.parallel = 1;
        update(session, options, true, [&] {
            QVERIFY(QTest::qWaitFor([&] { return session.model()->holdingFile() == QStringList{at(stuck)}; }, 10000));
            session.stop();
            QTest::qWait(50);
            QCOMPARE(session.stage(), SiteSession::Stage::Updating);
            QCOMPARE(session.model()->holdingFile(), QStringList{at(stuck)});
            session.stopNow();
        });
        QCOMPARE(stateOf(session, stuck), QStringLiteral("stopped"));
        QCOMPARE(stateOf(session, other), QStringLiteral("not started"));
        QVERIFY(other.uploads().empty());
    }
};

QTEST_GUILESS_MAIN(TestCameraTable)
#include "tst_cameratable.moc"
