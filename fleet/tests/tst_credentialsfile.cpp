// Credentials files and the target patterns their entries and --exclude are written in.
#include "fleet/credentialsfile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kSecret = QStringLiteral("s3cret");
} // namespace

class TestCredentialsFile : public QObject
{
    Q_OBJECT

private slots:
    // Every row also checks --exclude: the addresses a pattern matches go, the others stay in order.
    void match_data()
    {
        QTest::addColumn<QStringList>("patterns");
        QTest::addColumn<QStringList>("in");
        QTest::addColumn<QStringList>("out");
        QTest::newRow("host:port") << QStringList{"cam:8081"} << QStringList{"cam:8081"} << QStringList{"cam", "cam:8082"};
        QTest::newRow("host, any port") << QStringList{"CAM"} << QStringList{"cam", "cam:8081"} << QStringList{"192.0.2.5", "cam2"};
        QTest::newRow("port 80 written") << QStringList{"cam:80"} << QStringList{"cam", "cam:80"} << QStringList{"cam:8081"};
        QTest::newRow("ipv4 host") << QStringList{"192.0.2.5"} << QStringList{"192.0.2.5:8081"} << QStringList{"192.0.2.50"};
        QTest::newRow("range ends") << QStringList{"192.0.2.9/24"} << QStringList{"192.0.2.0", "192.0.2.255:8080"}
                                    << QStringList{"192.0.3.0"};
        QTest::newRow("/0") << QStringList{"0.0.0.0/0"} << QStringList{"203.0.113.9"} << QStringList{"cam", "[::1]"};
        QTest::newRow("/32") << QStringList{"192.0.2.7/32"} << QStringList{"192.0.2.7"} << QStringList{"192.0.2.6"};
        QTest::newRow("ipv6 host") << QStringList{"[0::1]"} << QStringList{"[::1]:8080"} << QStringList{"[::2]"};
        QTest::newRow("ipv6 host:port") << QStringList{"[::1]:8080"} << QStringList{} << QStringList{"[::1]"};
        QTest::newRow("range on a port") << QStringList{"192.0.2.0/24:8080"} << QStringList{"192.0.2.9:8080"}
                                         << QStringList{"192.0.2.9", "192.0.2.9:8081", "192.0.3.9:8080"};
        QTest::newRow("several") << QStringList{"cam:8081", "192.0.2.8/29", "[::1]:80"}
                                 << QStringList{"cam:8081", "192.0.2.9:8080", "[::1]"} << QStringList{"cam", "192.0.2.5"};
    }
    void match()
    {
        QFETCH(QStringList, patterns);
        QFETCH(QStringList, in);
        QFETCH(QStringList, out);
        QList<TargetPattern> parsed;
        QString error;
        QVERIFY2(parseTargetPatterns(patterns, &parsed, &error), qPrintable(error));
        QCOMPARE(withoutMatching(in + out, parsed), out);
    }

    void lookup_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("line");  // 0: no entry
        QTest::newRow("host:port beats all") << "198.51.100.7:8081" << 2;
        QTest::newRow("host beats ranges") << "198.51.100.7" << 5;
        QTest::newRow("/24 beats /22") << "198.51.100.9" << 1;
        QTest::newRow("/22 alone") << "198.51.101.9:8080" << 3;
        QTest::newRow("/24:PORT beats /24") << "198.51.100.9:8082" << 6;
        QTest::newRow("/24 beats /22:PORT") << "198.51.100.9:8083" << 1;
        QTest::newRow("/22:PORT beats /22") << "198.51.101.9:8083" << 7;
        QTest::newRow("none") << "198.51.104.1" << 0;
    }
    void lookup()
    {
        QFETCH(QString, address);
        QFETCH(int, line);
        QList<CredentialEntry> entries;
        QString error;
        QVERIFY2(parseCredentials("198.51.100.0/24 a s3cret\n198.51.100.7:8081 b s3cret\n198.51.100.0/22 c s3cret\n"
                                  "# hall\n198.51.100.7 d s3cret\n198.51.100.0/24:8082 e s3cret\n198.51.100.0/22:8083 f s3cret\n",
                                  "creds", &entries, &error),
                 qPrintable(error));
        const CredentialsFile file{QStringLiteral("creds"), entries};
        const CredentialEntry* entry = file.find(address);
        QCOMPARE(entry ? entry->line : 0, line);
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("password");  // of the only entry
        QTest::addColumn<QString>("error");     // part of the message; empty: none
        QTest::newRow("spaces # : non-ascii") << QByteArray("cam admin p w#:\xc3\xa9\xe2\x82\xac s3cret\n")
                                              << QString::fromUtf8("p w#:é€ s3cret") << "";
        QTest::newRow("trailing space kept") << QByteArray("cam admin s3cret \n") << "s3cret " << "";
        QTest::newRow("crlf") << QByteArray("cam admin s3cret\r\n") << "s3cret" << "";
        QTest::newRow("no last line end") << QByteArray("cam admin s3cret") << "s3cret" << "";
        QTest::newRow("comments and blanks") << QByteArray("# c\n\n \t\n  # indented\n# crlf\r\ncam admin #s3cret\n")
                                             << "#s3cret" << "";
        QTest::newRow("bom") << QByteArray("\xEF\xBB\xBF" "cam admin s3cret\n") << "s3cret" << "";

        const QString none;
        QTest::newRow("target alone") << QByteArray("s3cret\n") << none << "creds:1: no user ID and no password";
        QTest::newRow("no password") << QByteArray("# x\ncam s3cret\n") << none << "creds:2: no password";
        QTest::newRow("empty user") << QByteArray("cam  admin s3cret\n") << none << "creds:1: empty user ID";
        QTest::newRow("empty password") << QByteArray("cam admin \n") << none << "creds:1: empty password";
        QTest::newRow("password after two spaces") << QByteArray("cam admin  s3cret\n") << none << "creds:1: the password begins";
        QTest::newRow("indented entry") << QByteArray(" cam admin s3cret\n") << none << "creds:1: begins with a space";
        QTest::newRow("tabs") << QByteArray("cam\tadmin\ts3cret\n") << none << "creds:1: a tab";
        QTest::newRow("lone cr at end") << QByteArray("\ncam admin s3cret\r") << none << "creds:2: a tab";
        QTest::newRow("colon in user") << QByteArray("cam ad:min s3cret\n") << none << "creds:1: the user ID holds";
        QTest::newRow("bad target") << QByteArray("cam/24 admin s3cret\n") << none << "creds:1: bad target \"cam/24\"";
        QTest::newRow("prefix 33") << QByteArray("192.0.2.0/33 a s3cret\n") << none << "from 0 to 32";
        QTest::newRow("target file") << QByteArray("@hosts a s3cret\n") << none << "a file of targets";
        QTest::newRow("invalid byte") << QByteArray("cam a s3cret\xff\n") << none << "creds:1: not UTF-8";
        QTest::newRow("overlong") << QByteArray("\ncam a s3cret\xc0\xaf\n") << none << "creds:2: not UTF-8";
        QTest::newRow("surrogate") << QByteArray("cam a s3cret\xed\xa0\x80\n") << none << "creds:1: not UTF-8";
        QTest::newRow("cut sequence") << QByteArray("cam a s3cret\xc3\nx a b\n") << none << "creds:1: not UTF-8";
        QTest::newRow("same target") << QByteArray("CAM a s3cret\ncam:8081 a b\ncam b s3cret\n") << none
                                     << "creds:3: target \"cam\" is also on line 1";
        QTest::newRow("same range") << QByteArray("192.0.2.7/24 a s3cret\n192.0.2.0/24 a s3cret\n") << none
                                    << "creds:2: target \"192.0.2.0/24\" is also on line 1";
        QTest::newRow("no entry") << QByteArray("# s3cret\n\n") << none << "creds: no entry";
    }
    void parse()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QString, password);
        QFETCH(QString, error);
        QList<CredentialEntry> entries;
        QString message;
        QCOMPARE(parseCredentials(contents, QStringLiteral("creds"), &entries, &message), error.isEmpty());
        QVERIFY2(message.contains(error), qPrintable(message));
        QVERIFY2(!message.contains(kSecret), qPrintable(message));
        if (error.isEmpty()) {
            QCOMPARE(entries.size(), 1);
            QCOMPARE(entries.first().user, QStringLiteral("admin"));
            QCOMPARE(entries.first().password, password);
        }
    }

    void secrets()
    {
        QList<CredentialEntry> entries;
        QString error;
        QVERIFY(parseCredentials("cam admin p\xc3\xa9\xe2\x82\xac\ncam2 admin p\xc3\xa9\xe2\x82\xac\n", "c", &entries, &error));
        // "€" is outside Latin-1: one "?" on the wire. The user ID is no secret.
        const QStringList expected{QString::fromUtf8("pé€"), QString::fromLatin1(QByteArray("admin:p\xe9?").toBase64())};
        QCOMPARE(CredentialsFile({QStringLiteral("c"), entries}).secrets(), expected);
    }

    void file_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("error");  // a pattern found in the message; empty: none
        QTest::newRow("0600") << "file" << 0600 << "";
        QTest::newRow("0400") << "file" << 0400 << "";
        for (int mode : {0640, 0604, 0620, 0602, 0610})
            QTest::addRow("%04o", mode) << "file" << mode
                                        << QStringLiteral("permissions %1 are too open.* run \"chmod 600 'dir/my creds'\"$")
                                               .arg(mode, 4, 8, QLatin1Char('0'));
        QTest::newRow("link to private file") << "link" << 0600 << "";
        QTest::newRow("link to open file") << "link" << 0644 << "too open";
        QTest::newRow("fifo") << "fifo" << 0600 << "not a regular file";
        QTest::newRow("folder") << "dir" << 0700 << "a folder";
        QTest::newRow("another user's") << "foreign" << 0600 << "owned by user 4242";
        QTest::newRow("over 1 MB") << "large" << 0600 << "^[^:]+: 1048577 bytes; a credentials file holds at most 1048576$";
        QTest::newRow("missing") << "none" << 0600 << "No such file";
    }
    void file()
    {
        QFETCH(QString, kind);
        QFETCH(int, mode);
        QFETCH(QString, error);
        QTemporaryDir tmp;
        QVERIFY(QDir::setCurrent(tmp.path()) && QDir().mkdir("dir"));
        const QString real = QStringLiteral("dir/my creds");
        const QByteArray entry("cam admin s3cret\n");
        if (kind == "fifo")
            QCOMPARE(::mkfifo(qPrintable(real), mode_t(mode)), 0);
        else if (kind == "dir")
            QVERIFY(QDir().mkdir(real));
        else if (QFile f(real); kind != "none")
            QVERIFY(f.open(QIODevice::WriteOnly) && ::chmod(qPrintable(real), mode_t(mode)) == 0
                    && f.write(kind == "large" ? entry.repeated(kCredentialsFileMaxBytes / entry.size() + 1) : entry) > 0);
        if (kind == "foreign" && (::geteuid() != 0 || ::chown(qPrintable(real), 4242, 4242) != 0))
            QSKIP("giving a file to another user needs root");
        const QString name = kind == "link" ? QStringLiteral("link") : real;
        if (kind == "link")
            QVERIFY(QFile::link(real, name));

        CredentialsFile file;
        QString message;
        QCOMPARE(readCredentialsFile(name, &file, &message), error.isEmpty());
        QVERIFY2(message.contains(QRegularExpression(error)), qPrintable(message));
        QVERIFY2(!message.contains(kSecret), qPrintable(message));
        QCOMPARE(file.entries.size(), error.isEmpty() ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestCredentialsFile)
#include "tst_credentialsfile.moc"
