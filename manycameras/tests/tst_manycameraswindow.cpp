// The many-camera window itself, offscreen, driven as an operator would: targets typed and
// Return pressed, the folder chosen with Ctrl+O in the main window's chooser, Ctrl+Return,
// the credentials typed once, the question answered; every ticked camera updated with the
// very bytes the main window sends it, a refused password failing only its own row, a
// camera's trace opened with a double click, the report saved as HTML. Then Stop and
// closing the window while a camera holds a file it never comes back from.
#include "app/mainwindow.h"
#include "manycameras/cameratablemodel.h"
#include "manycameras/cameratrace.h"
#include "manycameras/manycameraswindow.h"
#include "manycameras/sitecredentialsdialog.h"
#include "sim/camerasim.h"
#include "manycameras/tests/sitefixture.h"
#include "sim/samplefolder.h"
#include "tests/support/logcapture.h"
#include "tests/support/operator.h"
#include "tests/support/windowupdate.h"

#include <QDirIterator>
#include <QLoggingCategory>
#include <QProgressBar>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const QString kUser = kSiteUser;
const QString kPassword = kSitePassword;

QByteArray everythingWritten(const QString& root)
{
    QByteArray all;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            all += f.readAll();
    }
    return all;
}

// The operator in front of the many-camera window: the main window's operator, who also
// types the site's user ID and password into the many-camera credentials dialog.
struct SiteOperator : Operator {
    int siteCredentials = 0;
    SiteOperator()
    {
        user = kUser;
        password = kPassword;
        answerWith = QMessageBox::Yes;
        const auto base = onDialog;
        onDialog = [this, base](QWidget* modal) {
            auto* dialog = qobject_cast<SiteCredentialsDialog*>(modal);
            if (!dialog) {
                base(modal);
                return;
            }
            if (dialog->property("typed").toBool())
                return;
            dialog->setProperty("typed", true);
            ++siteCredentials;
            child<QLineEdit>(*dialog, "userEdit")->setText(user);
            child<QLineEdit>(*dialog, "passwordEdit")->setText(password);
            QTimer::singleShot(0, dialog, [dialog] { QTest::keyClick(dialog, Qt::Key_Return); });
        };
    }
};

} // namespace

class TestManyCamerasWindow : public QObject, public SiteFixture
{
    Q_OBJECT

    QTemporaryDir m_folder;

    // Targets typed, Return, the folder chosen with Ctrl+O.
    bool scanAndChoose(ManyCamerasWindow& w, SiteOperator& op, const QStringList& addresses)
    {
        auto* targets = child<QLineEdit>(w, "targetsEdit");
        targets->setText(addresses.join(QStringLiteral(", ")));
        QTest::keyClick(targets, Qt::Key_Return);
        if (!QTest::qWaitFor([&] { return w.session().stage() == SiteSession::Stage::Idle; }, 15000))
            return false;
        op.folder = m_folder.path();
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        return QTest::qWaitFor([&] { return child<QLabel>(w, "folderLabel")->text() == m_folder.path(); }, 5000);
    }

    bool waitForEnd(ManyCamerasWindow& w)
    {
        return QTest::qWaitFor(
            [&] { return child<QLabel>(w, "statusLabel")->text().startsWith(QLatin1String("Done")) ||
                         child<QLabel>(w, "statusLabel")->text().startsWith(QLatin1String("Stopped")); },
            30000);
    }

    QString stateOf(ManyCamerasWindow& w, const CameraSim& sim)
    {
        CameraTableModel* model = w.session().model();
        return model->stateText(model->rowOf(at(sim)));
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        QVERIFY(writeSampleFolder(m_folder.path().toStdString()));
    }

    void cleanup() { m_sims.clear(); }

    void updateFromTheWindow()
    {
        CameraSim& tk300 = camera(CAM_MODELID_QV_TK300);
        const CameraSim& tk20 = camera(CAM_MODELID_QV_NEW_TK20_H);
        SimFaults refuse;
        refuse.rejectCredentials = true;
        const CameraSim& locked = camera(CAM_MODELID_QV_TKD7_S, refuse);

        // The many-camera window's update, its operator gone once it has ended: the main
        // window's run below has an operator of its own.
        QList<QByteArray> sent;
        QStringList members;
        {
            SiteOperator op;
            ManyCamerasWindow w(environment());
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QCOMPARE(w.windowTitle(), QStringLiteral("Kelvora - Many Cameras"));
            QCOMPARE(w.focusWidget(), child<QLineEdit>(w, "targetsEdit"));
            QVERIFY(scanAndChoose(w, op, {at(tk300), at(tk20), at(locked)}));
            QCOMPARE(op.choosers, QStringList{QStringLiteral("Directory|%1|1|ManyCamerasWindow").arg(QDir::currentPath())});
            QCOMPARE(w.session().model()->tickedAddresses().size(), 3);

            w.session().setTickIntervals(1, 1);
            // Where the operator's keys go: the field that has the focus, in a window no window
            // manager may have made active (a shortcut alone would never see the keys there).
            QCOMPARE(w.focusWidget(), child<QLineEdit>(w, "targetsEdit"));
            QTest::keyClick(w.focusWidget(), Qt::Key_Return, Qt::ControlModifier);
            QVERIFY(waitForEnd(w));
            QCOMPARE(op.siteCredentials, 1);
            QCOMPARE(op.texts().size(), 1);
            QVERIFY2(op.texts().first().endsWith(QLatin1String(" to 3 cameras?")), qPrintable(op.texts().join('|')));
            QCOMPARE(stateOf(w, tk300), QStringLiteral("completed and verified"));
            QCOMPARE(stateOf(w, tk20), QStringLiteral("completed and verified"));
            QVERIFY2(stateOf(w, locked).contains(QLatin1String("401")), qPrintable(stateOf(w, locked)));
            QVERIFY(child<QLabel>(w, "statusLabel")->text().contains(w.session().reportPath()));
            QCOMPARE(child<QProgressBar>(w, "overallBar")->value(), 100);

            // A camera's trace, by a double click on its row.
            auto* table = child<QTableView>(w, "cameraTable");
            const QModelIndex first = w.rows()->index(0, CameraTableModel::AddressColumn);
            const QString address = first.data().toString();
            const QPoint where = table->visualRect(first).center();
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, where);
            QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, where);
            CameraTrace* trace = w.findChild<CameraTrace*>();
            QVERIFY(trace);
            QVERIFY(trace->windowTitle().contains(address));
            QTRY_VERIFY_WITH_TIMEOUT(trace->text().contains(QStringLiteral("■DEBUG■")), 5000);

            // The report as HTML, for the customer.
            const QString html = m_state.filePath(QStringLiteral("site.html"));
            op.folder = html;
            child<QPushButton>(w, "saveReportButton")->click();
            QFile page(html);
            QVERIFY(page.open(QIODevice::ReadOnly));
            const QByteArray bytes = page.readAll();
            QVERIFY(bytes.startsWith("<!DOCTYPE html>"));
            for (const CameraSim* sim : {static_cast<const CameraSim*>(&tk300), &tk20, &locked})
                QVERIFY(bytes.contains(at(*sim).toUtf8()));

            // Nothing secret anywhere: on screen, in the report, the traces, the history, the page.
            QByteArray shown;
            for (const QLabel* label : w.findChildren<QLabel*>())
                shown += label->text().toUtf8();
            for (int r = 0; r < w.session().model()->rowCount(); ++r)
                shown += w.session().model()->stateText(r).toUtf8();
            const QByteArray written = everythingWritten(m_state.path()) + shown + trace->text().toUtf8();
            for (const QString& secret : credentialForms(kUser, kPassword))
                QVERIFY2(!written.contains(secret.toUtf8()), qPrintable(secret));

            // The very bytes the main window sends the same camera for the same components.
            sent = uploadsOf(tk300);
            const FleetReport report = w.session().report();
            for (const CameraReport& c : report.cameras) {
                if (c.address == at(tk300)) {
                    for (const ReportedFile& f : c.files)
                        members << QLatin1String(kComponents[std::size_t(f.component)].member);
                }
            }
        }
        QCOMPARE(sent.size(), members.size());
        QVERIFY(tk300.setModel(CAM_MODELID_QV_TK300));
        tk300.clearLog();
        updateThroughMainWindow(at(tk300), m_folder.path(), kUser, kPassword, members);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(uploadsOf(tk300), sent);
    }

    // Stop, then closing the window while a camera holds a file it never comes back from:
    // asked first, then as Stop; closed again, as Stop pressed again, naming the camera that
    // may still be writing its firmware. The other camera never starts.
    void stopAndClose()
    {
        SimFaults never;
        never.upload = SimUploadFault::NeverReturn;
        const CameraSim& stuck = camera(CAM_MODELID_QV_TK300, never);
        const CameraSim& other = camera(CAM_MODELID_QV_TK300);
        SiteOperator op;
        ManyCamerasWindow w(environment());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(scanAndChoose(w, op, {at(stuck), at(other)}));
        child<QSpinBox>(w, "parallelBox")->setValue(1);
        w.session().setTickIntervals(1, 1);
        child<QPushButton>(w, "updateButton")->click();
        QVERIFY(QTest::qWaitFor([&] { return w.session().model()->holdingFile() == QStringList{at(stuck)}; }, 10000));

        child<QPushButton>(w, "stopButton")->click();
        QVERIFY(child<QLabel>(w, "statusLabel")->text().startsWith(QLatin1String("Stopping")));
        op.clear();
        w.close();
        QVERIFY(QTest::qWaitFor([&] { return op.texts().size() == 1; }, 2000));
        QVERIFY(op.texts().first().startsWith(QLatin1String("An update is under way")));
        QVERIFY(w.isVisible());
        QTest::qWait(50);
        QCOMPARE(w.session().stage(), SiteSession::Stage::Updating);

        w.close();
        QVERIFY(QTest::qWaitFor([&] { return !w.isVisible(); }, 10000));
        QCOMPARE(op.texts().size(), 2);
        QVERIFY2(op.texts().last().contains(at(stuck)) && op.texts().last().contains(QLatin1String("may still be writing")),
                 qPrintable(op.texts().last()));
        QCOMPARE(stateOf(w, stuck), QStringLiteral("stopped"));
        QCOMPARE(stateOf(w, other), QStringLiteral("not started"));
        QVERIFY(other.uploads().empty());
    }
};

QTEST_MAIN(TestManyCamerasWindow)
#include "tst_manycameraswindow.moc"
