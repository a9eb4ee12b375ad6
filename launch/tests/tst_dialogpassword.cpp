#include "launch/credentials.h"
#include "launch/dialogpassword.h"
#include "tests/support/logcapture.h"
#include "tests/support/modalwatcher.h"
#include "update/runstate.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace {

vup_file_info handedSet()
{
    vup_file_info set;
    set.DirPath = QStringLiteral("/nowhere");
    set.CamIPAddress = QStringLiteral("127.0.0.1:1");
    set.Model = 4;
    set.cam_cpu = {QStringLiteral("main.bin"), QStringLiteral("V01.10"), 1, RMOCAM_FALSE};
    return set;
}

QLineEdit* edit(QDialog& d, const char* name) { return d.findChild<QLineEdit*>(QLatin1String(name)); }
QPushButton* button(QDialog& d, const char* name) { return d.findChild<QPushButton*>(QLatin1String(name)); }

void fill(DialogPassword& d, const QString& user, const QString& password)
{
    d.DIAPASS_SetInfo(handedSet());
    edit(d, "Dia_Pass_UserIDEdit")->setText(user);
    edit(d, "Dia_Pass_PassEdit")->setText(password);
}

} // namespace

class TestDialogPassword : public QObject
{
    Q_OBJECT

private slots:
    void form()
    {
        DialogPassword d;
        QCOMPARE(d.windowTitle(), QStringLiteral("security dir"));
        QCOMPARE(d.minimumSize(), QSize(300, 150));
        QCOMPARE(d.maximumSize(), QSize(300, 150));
        QCOMPARE(edit(d, "Dia_Pass_PassEdit")->echoMode(), QLineEdit::Password);
        QCOMPARE(edit(d, "Dia_Pass_UserIDEdit")->echoMode(), QLineEdit::Normal);
    }

    void okIgnoredWithEmptyField_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("password empty") << "admin" << "";
        QTest::newRow("user empty") << "" << "secret";
        QTest::newRow("both empty") << "" << "";
    }

    void okIgnoredWithEmptyField()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        LogCapture log;
        DialogPassword d;
        fill(d, user, password);
        d.show();
        ModalWatcher watcher;
        button(d, "Dia_Pass_PushButtonOK")->click();
        QTest::qWait(50);
        QVERIFY(d.isVisible());
        QCOMPARE(edit(d, "Dia_Pass_UserIDEdit")->text(), user);
        QCOMPARE(edit(d, "Dia_Pass_PassEdit")->text(), password);
        QVERIFY(DiaPass_FileInfo.Base64.isEmpty());
        QVERIFY(watcher.texts().isEmpty());
        QCOMPARE(log.secretsFound(credentialForms(user, password)), QStringList());
    }

    void okBuildsCredentialAndEndsWithoutPlan()
    {
        // Nothing ticked: the run cannot start, the operator sees "Start Err" and both dialogs are gone.
        DialogPassword d;
        const QString user = QStringLiteral("oper\u00e4tor");
        const QString password = QStringLiteral("pa:ss\u20ac");
        fill(d, user, password);
        ModalWatcher watcher;
        LogCapture log;
        QTimer::singleShot(0, button(d, "Dia_Pass_PushButtonOK"), &QPushButton::click);
        QCOMPARE(d.exec(), int(QDialog::Rejected));
        QVERIFY(!d.isVisible());
        QCOMPARE(watcher.texts(), QStringList{QStringLiteral("Start Err")});
        QCOMPARE(DiaPass_FileInfo.Base64, QStringLiteral("b3BlcuR0b3I6cGE6c3M/")); // "oper\xe4tor:pa:ss?"
        QCOMPARE(DiaPass_FileInfo.DirPath, QStringLiteral("/nowhere"));
        QCOMPARE(DiaPass_FileInfo.cam_cpu.FileName, QStringLiteral("main.bin"));
        QVERIFY(log.containsInOrder({QStringLiteral("■DEBUG■DIAPASS_OpenDialogProgressBar()"),
                                     QStringLiteral("■DEBUG■diapass_OpenDialogProgressBar()"),
                                     QStringLiteral("■DEBUG■DIAPASS_getBase64()")}));
        QCOMPARE(log.secretsFound(credentialForms(user, password) << QStringLiteral("pa:ss")), QStringList());
        QCOMPARE(DiaPro_mode, 0);
        QCOMPARE(diapro_sort_fileinfo.MaxFileNum, 0);
    }

    void cancelKeepsSetWithoutCredential()
    {
        LogCapture log;
        DialogPassword d;
        fill(d, QStringLiteral("admin"), QStringLiteral("secret"));
        QTimer::singleShot(0, button(d, "Dia_Pass_PushButtonCancel"), &QPushButton::click);
        QCOMPARE(d.exec(), int(QDialog::Rejected));
        QVERIFY(DiaPass_FileInfo.Base64.isEmpty());
        QCOMPARE(DiaPass_FileInfo.DirPath, QStringLiteral("/nowhere"));
        QCOMPARE(log.secretsFound(credentialForms(QStringLiteral("admin"), QStringLiteral("secret"))), QStringList());
    }

    // A stale credential from an earlier dialog is never carried into the next.
    void newDialogStartsEmpty()
    {
        DiaPass_FileInfo = handedSet();
        DiaPass_FileInfo.Base64 = QStringLiteral("c3RhbGU6Y3JlZA==");
        DialogPassword d;
        QVERIFY(DiaPass_FileInfo.Base64.isEmpty() && DiaPass_FileInfo.DirPath.isEmpty());
        QVERIFY(DiaPass_FileInfo.cam_cpu.FileName.isEmpty());
        QVERIFY(edit(d, "Dia_Pass_UserIDEdit")->text().isEmpty() && edit(d, "Dia_Pass_PassEdit")->text().isEmpty());
    }
};

QTEST_MAIN(TestDialogPassword)
#include "tst_dialogpassword.moc"
