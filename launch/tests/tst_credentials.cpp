#include "launch/credentials.h"

#include <QtTest>

class TestCredentials : public QObject
{
    Q_OBJECT

private slots:
    void basic_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("expected");
        // Expected values are the Base64 of the bytes written beside each row.
        QTest::newRow("plain") << "admin" << "password" << "YWRtaW46cGFzc3dvcmQ="; // admin:password
        QTest::newRow("one pad") << "ab" << "c" << "YWI6Yw=="; // ab:c
        QTest::newRow("no pad") << "a" << "b" << "YTpi"; // a:b
        QTest::newRow("colon in password") << "root" << "p:w" << "cm9vdDpwOnc="; // root:p:w
        QTest::newRow("colon in user") << "a:b" << "c" << "YTpiOmM="; // a:b:c
        QTest::newRow("blanks kept") << " u " << " p" << "IHUgOiBw"; // " u : p"
        QTest::newRow("latin-1 e acute") << QStringLiteral("caf\u00e9") << "x" << "Y2Fm6Tp4"; // 63 61 66 e9 3a 78
        QTest::newRow("outside latin-1 becomes ?") << QStringLiteral("\u7528\u6237") << QStringLiteral("p\u20ac")
                                                   << "Pz86cD8="; // ??:p?
        // One "?" per character, not per UTF-16 unit: an emoji is one character.
        QTest::newRow("outside the 16-bit range") << QStringLiteral("a\U0001F600b") << "x" << "YT9iOng="; // a?b:x
        QTest::newRow("last latin-1 character, first beyond") << QStringLiteral("\u00ff") << QStringLiteral("\u0100")
                                                             << "/zo/"; // ff 3a 3f
        QTest::newRow("bytes needing + and /") << QStringLiteral("\u00fb\u00ef") << QStringLiteral("\u00bf")
                                               << "++86vw=="; // fb ef 3a bf
    }

    void basic()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, expected);
        QCOMPARE(basicCredential(user, password), expected);
    }
};

QTEST_APPLESS_MAIN(TestCredentials)
#include "tst_credentials.moc"
