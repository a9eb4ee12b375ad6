// Target arguments become addresses. Nothing is ever sent to them.
#include "fleet/targets.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestFleetTargets : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");  // "@hosts" is the file written from `file`
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QString>("error");          // part of the message; empty: none

        const QByteArray none;
        QTest::newRow("order kept, twice once") << QStringList{"cam-b", "192.0.2.7", "CAM-B", "cam-a"} << none
                                                << QStringList{"cam-b", "192.0.2.7", "cam-a"} << "";
        QTest::newRow("port 80 is no port") << QStringList{"192.0.2.7:80", "192.0.2.7", "192.0.2.7:8080", "192.0.2.7:08080"}
                                            << none << QStringList{"192.0.2.7", "192.0.2.7:8080"} << "";
        QTest::newRow("ipv6 in brackets") << QStringList{"[::1]:8080", "[0:0::1]:8080", "[::1]:80"} << none
                                          << QStringList{"[::1]:8080", "[::1]"} << "";
        QTest::newRow("/30 without network and broadcast") << QStringList{"192.0.2.4/30"} << none
                                                           << QStringList{"192.0.2.5", "192.0.2.6"} << "";
        QTest::newRow("/31 both") << QStringList{"192.0.2.4/31"} << none << QStringList{"192.0.2.4", "192.0.2.5"} << "";
        QTest::newRow("range on a port") << QStringList{"192.0.2.4/30:8080", "192.0.2.5:8080", "192.0.2.4/31:80"} << none
                                         << QStringList{"192.0.2.5:8080", "192.0.2.6:8080", "192.0.2.4", "192.0.2.5"} << "";
        QTest::newRow("range on a bad port") << QStringList{"192.0.2.4/30:0"} << none << QStringList{} << "from 1 to 65535";
        QTest::newRow("/32 one") << QStringList{"192.0.2.9/32"} << none << QStringList{"192.0.2.9"} << "";
        QTest::newRow("host bits ignored") << QStringList{"192.0.2.6/29"} << none
                                           << QStringList{"192.0.2.1", "192.0.2.2", "192.0.2.3", "192.0.2.4", "192.0.2.5", "192.0.2.6"} << "";
        QTest::newRow("range merged with a host") << QStringList{"192.0.2.6", "192.0.2.4/30"} << none
                                                  << QStringList{"192.0.2.6", "192.0.2.5"} << "";
        QTest::newRow("file") << QStringList{"@hosts", "cam-z"}
                              << QByteArray("# cameras\n\n  cam-a:8081  # hall\r\n192.0.2.4/30\ncam-z\n")
                              << QStringList{"cam-a:8081", "192.0.2.5", "192.0.2.6", "cam-z"} << "";

        QTest::newRow("no target") << QStringList{} << none << QStringList{} << "no target given";
        QTest::newRow("range too wide") << QStringList{"198.51.100.0/21"} << none << QStringList{} << "at most a /22";
        QTest::newRow("prefix too long") << QStringList{"198.51.100.0/33"} << none << QStringList{} << "from 22 to 32";
        QTest::newRow("range of a name") << QStringList{"cam/24"} << none << QStringList{} << "IPv4 address";
        QTest::newRow("part over 255") << QStringList{"192.0.2.256"} << none << QStringList{} << "not an IPv4";
        QTest::newRow("leading zero") << QStringList{"192.0.2.010"} << none << QStringList{} << "not an IPv4";
        QTest::newRow("three parts") << QStringList{"192.0.2"} << none << QStringList{} << "not an IPv4";
        QTest::newRow("port 0") << QStringList{"cam:0"} << none << QStringList{} << "port";
        QTest::newRow("port too big") << QStringList{"cam:65536"} << none << QStringList{} << "port";
        QTest::newRow("empty port") << QStringList{"cam:"} << none << QStringList{} << "port";
        QTest::newRow("bare ipv6") << QStringList{"::1"} << none << QStringList{} << "brackets";
        QTest::newRow("blank in a name") << QStringList{"cam a"} << none << QStringList{} << "not a host name";
        QTest::newRow("path") << QStringList{"cam?x=1"} << none << QStringList{} << "not a host name";
        QTest::newRow("nested file") << QStringList{"@hosts"} << QByteArray("cam-a\n@other\n") << QStringList{}
                                     << "hosts:2: bad target \"@other\": a target file cannot name another";
        QTest::newRow("bad line named") << QStringList{"@hosts"} << QByteArray("cam-a\n\ncam:x\n") << QStringList{}
                                        << "hosts:3: bad target \"cam:x\"";
        QTest::newRow("missing file") << QStringList{"@missing"} << none << QStringList{} << "cannot read target file";
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, file);
        QFETCH(QStringList, addresses);
        QFETCH(QString, error);
        QTemporaryDir tmp;
        QVERIFY(QDir::setCurrent(tmp.path()));
        if (!file.isNull()) {
            QFile f(QStringLiteral("hosts"));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file) == file.size());
        }
        const TargetList list = parseTargets(arguments);
        QCOMPARE(list.addresses, addresses);
        if (error.isEmpty())
            QCOMPARE(list.error, QString());
        else
            QVERIFY2(list.error.contains(error), qPrintable(list.error));
    }

    void widestRange()
    {
        QString error;
        const QStringList addresses = expandRange(QStringLiteral("198.51.100.0/22"), &error);
        QCOMPARE(addresses.size(), 1022);
        QCOMPARE(addresses.first(), QStringLiteral("198.51.100.1"));
        QCOMPARE(addresses.last(), QStringLiteral("198.51.103.254"));
    }
};

QTEST_GUILESS_MAIN(TestFleetTargets)
#include "tst_fleettargets.moc"
