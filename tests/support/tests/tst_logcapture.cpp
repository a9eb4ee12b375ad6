// The secrets check the other tests rely on: it must find a credential however the debug
// log writes it, or every "nothing leaked" verdict would be empty.
#include "common/debuglog.h"
#include "tests/support/logcapture.h"

#include <QtTest>

class TestLogCapture : public QObject
{
    Q_OBJECT

private slots:
    void secretsFound_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("logged");  // written as a quoted value
        QTest::addColumn<QStringList>("found");
        QTest::newRow("joined") << "op" << "pw1" << "op:pw1" << QStringList{"op", "pw1", "op:pw1"};
        // qDebug writes characters outside ASCII as escapes: found all the same.
        QTest::newRow("user outside ascii") << QStringLiteral("t\u00e9cnico") << "pw" << QStringLiteral("t\u00e9cnico")
                                            << QStringList{QStringLiteral("t\u00e9cnico")};
        QTest::newRow("header value") << "admin" << "password" << "Basic YWRtaW46cGFzc3dvcmQ="
                                      << QStringList{"YWRtaW46cGFzc3dvcmQ="};
        // Base64 of the UTF-8 bytes "\xc3\xa9:Z", as a careless encoder would write it.
        QTest::newRow("utf-8 base64") << QStringLiteral("\u00e9") << "Z" << "w6k6Wg==" << QStringList{"w6k6Wg=="};
    }

    void secretsFound()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, logged);
        QFETCH(QStringList, found);
        LogCapture log;
        kelvora::dbgLine("■DEBUG■DIAPASS_getBase64()");
        kelvora::dbgValue(logged);
        QCOMPARE(log.secretsFound(credentialForms(user, password)), found);
    }
};

QTEST_APPLESS_MAIN(TestLogCapture)
#include "tst_logcapture.moc"
