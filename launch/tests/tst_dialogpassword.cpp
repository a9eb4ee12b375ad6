#include "launch/credentials.h"
#include "launch/dialogpassword.h"
#include "tests/support/logcapture.h"
#include "tests/support/modalwatcher.h"

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
        QCOMPARE(edit(d, "Dia_Pass_PassEdit")->echoMode(), QLineEdit::Password);
        QCOMPARE(edit(d, "Dia_Pass_UserIDEdit")->echoMode(), QLineEdit::Normal);
    }

    // OK with an empty field keeps the dialog open with its contents; Cancel closes it. Neither
    // builds a credential. A full OK is driven through the real windows in app/tests/tst_faults.cpp.
    void buttons_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("cancel");
        QTest::newRow("password empty") << "admin" << "" << false;
        QTest::newRow("user empty") << "" << "secret" << false;
        QTest::newRow("both empty") << "" << "" << false;
        QTest::newRow("cancel") << "admin" << "secret" << true;
    }

    void buttons()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, cancel);
        LogCapture log;
        DialogPassword d;
        fill(d, user, password);
        d.show();
        ModalWatcher watcher;
        button(d, cancel ? "Dia_Pass_PushButtonCancel" : "Dia_Pass_PushButtonOK")->click();
        QTest::qWait(50);
        QCOMPARE(d.isVisible(), !cancel);
        QCOMPARE(edit(d, "Dia_Pass_UserIDEdit")->text(), user);
        QCOMPARE(edit(d, "Dia_Pass_PassEdit")->text(), password);
        QVERIFY(DiaPass_FileInfo.Base64.isEmpty());
        QCOMPARE(DiaPass_FileInfo.DirPath, QStringLiteral("/nowhere"));
        QVERIFY(watcher.texts().isEmpty());
        QCOMPARE(log.secretsFound(credentialForms(user, password)), QStringList());
    }

    // A stale credential from an earlier dialog is never carried into the next.
    void newDialogStartsEmpty()
    {
        DiaPass_FileInfo = handedSet();
        DiaPass_FileInfo.Base64 = QStringLiteral("c3RhbGU6Y3JlZA==");
        DialogPassword d;
        QVERIFY(DiaPass_FileInfo.Base64.isEmpty() && DiaPass_FileInfo.DirPath.isEmpty()
                && DiaPass_FileInfo.cam_cpu.FileName.isEmpty());
        QVERIFY(edit(d, "Dia_Pass_UserIDEdit")->text().isEmpty() && edit(d, "Dia_Pass_PassEdit")->text().isEmpty());
    }
};

QTEST_MAIN(TestDialogPassword)
#include "tst_dialogpassword.moc"
