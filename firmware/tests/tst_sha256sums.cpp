#include "firmware/sha256sums.h"

#include "tests/support/fiforelease.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

const QByteArray kHex = QByteArray("0123456789abcdef").repeated(4);
const QByteArray kOtherHex = QByteArray("fedcba9876543210").repeated(4);

QByteArray sha256(const QByteArray& bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256); }

// "!" and the line of each finding, "[name]=first eight hex digits" of each digest; sorted.
QString describe(const FolderSums& sums)
{
    QStringList out;
    for (const SumsFinding& f : sums.findings)
        out << QStringLiteral("!%1").arg(f.line);
    for (auto it = sums.digests.cbegin(); it != sums.digests.cend(); ++it)
        out << QLatin1Char('[') + it.key() + QStringLiteral("]=") + QString::fromLatin1(it.value().toHex().left(8));
    out.sort();
    return out.join(u' ');
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return QDir().mkpath(QFileInfo(path).path()) && f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

Q_DECLARE_METATYPE(SumVerdict)

class TestSha256Sums : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("read");
        const QByteArray h = kHex, o = kOtherHex;
        QTest::newRow("text and binary mark") << h + "  a.bin\n" + o + " *b.bin\n" << "[a.bin]=01234567 [b.bin]=fedcba98";
        // Accepted as `sha256sum -c` accepts them.
        QTest::newRow("upper-case digest") << h.toUpper() + "  a.bin\n" << "[a.bin]=01234567";
        QTest::newRow("crlf, no final line end") << h + "  a.bin\r\n" + o + "  b.bin" << "[a.bin]=01234567 [b.bin]=fedcba98";
        QTest::newRow("comments, blank lines") << "# made by hand\n\n" + h + "  a.bin\n\n" << "[a.bin]=01234567";
        QTest::newRow("names with spaces") << h + "   lead.bin\n" + o + "  mid dle.bin \n" << "[ lead.bin]=01234567 [mid dle.bin ]=fedcba98";
        QTest::newRow("escaped names") << "\\" + h + "  back\\\\slash\n\\" + o + "  new\\nline\\r\n"
                                       << "[back\\slash]=01234567 [new\nline\r]=fedcba98";
        QTest::newRow("dot and sub-folder") << h + "  ./a.bin\n" + o + "  sub//./b.bin\n" << "[a.bin]=01234567 [sub/b.bin]=fedcba98";
        QTest::newRow("same name twice, same digest") << h + "  a.bin\n" + h + "  ./a.bin\n" << "[a.bin]=01234567";
        // Refused whole, with the line of each fault.
        QTest::newRow("empty") << QByteArray("") << "!0";
        QTest::newRow("only comments") << QByteArray("# nothing\n\n") << "!0";
        QTest::newRow("short, long, not hex") << h.left(63) + "  a\n" + h + "0  b\n" + "g" + h.mid(1) + "  c\n" << "!1 !2 !3";
        QTest::newRow("one space, no name, tagged") << h + " a\n" + h + "  \nSHA256 (a) = " + h + "\n" << "!1 !2 !3";
        QTest::newRow("unknown escape, escape last") << "\\" + h + "  a\\tb\n\\" + h + "  a\\\n" << "!1 !2";
        QTest::newRow("nul") << h + QByteArray("  a\0b\n", 6) << "!1";
        QTest::newRow("outside the folder") << h + "  ../a.bin\n" + h + "  /etc/passwd\n" + h + "  ./\n" << "!1 !2 !3";
        QTest::newRow("twice, other digest") << h + "  a.bin\n" + h + "  b.bin\n" + o + "  ./a.bin\n" << "!3";
        QTest::newRow("one bad line refuses all") << h + "  a.bin\nzz\n" + o + "  b.bin\n" << "!2";
    }

    void parse()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, read);
        const FolderSums sums = parseSums(content);
        QCOMPARE(describe(sums), read);
        QCOMPARE(sums.digests.isEmpty(), sums.state != FolderSums::Present);
    }

    void judge_data()
    {
        QTest::addColumn<QByteArray>("sums");  // null: none; "dir", "fifo": that instead of a file
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");  // of the file on disk; null: missing
        QTest::addColumn<SumVerdict>("verdict");
        const QByteArray fw("firmware\0\xff", 10), listed = sumsLine(sha256(fw), QStringLiteral("a.bin"));
        QTest::newRow("no sums") << QByteArray() << "a.bin" << fw << SumVerdict::NoSums;
        QTest::newRow("matches") << listed << "a.bin" << fw << SumVerdict::Matches;
        QTest::newRow("matches by another form") << listed << "./a.bin" << fw << SumVerdict::Matches;
        QTest::newRow("differs") << listed << "a.bin" << fw + "x" << SumVerdict::Differs;
        QTest::newRow("not listed") << listed << "b.bin" << fw << SumVerdict::NotListed;
        QTest::newRow("outside, listed by its name") << listed << "../a.bin" << fw << SumVerdict::NotListed;
        QTest::newRow("listed, missing") << listed << "a.bin" << QByteArray() << SumVerdict::FileUnreadable;
        QTest::newRow("malformed sums") << listed + "x\n" << "a.bin" << fw << SumVerdict::SumsUnreadable;
        QTest::newRow("sums a folder") << QByteArray("dir") << "a.bin" << fw << SumVerdict::SumsUnreadable;
        QTest::newRow("sums a fifo") << QByteArray("fifo") << "a.bin" << fw << SumVerdict::SumsUnreadable;
    }

    void judge()
    {
        QFETCH(QByteArray, sums);
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QTemporaryDir tmp;
        const QString path = sumsFilePath(tmp.path());
        QVERIFY(bytes.isNull() || writeFile(tmp.filePath(QStringLiteral("a.bin")), bytes));
        QVERIFY(sums.isNull() || sums == "fifo" || (sums == "dir" ? QDir().mkdir(path) : writeFile(path, sums)));
        QCOMPARE(sums == "fifo" ? ::mkfifo(QFile::encodeName(path).constData(), 0600) : 0, 0);
        const FifoRelease release(QFile::encodeName(path));
        QElapsedTimer clock;
        clock.start();
        const SumCheck check = checkFolderFile(tmp.path(), name);
        QTEST(check.verdict, "verdict");
        QVERIFY(clock.elapsed() < 1500);  // a FIFO is never opened
    }

    // What is written is what sha256sum itself accepts and this reader reads back.
    void writeRoundTrip()
    {
        QTemporaryDir tmp;
        const QStringList names{"a.bin", "with space.bin", "back\\slash.bin", "new\nline.bin", "cr.bin\r", "sub/b.bin",
                                "./a.bin"};
        for (const QString& name : names)
            QVERIFY(writeFile(tmp.filePath(name), name.toUtf8()));
        // Larger than a hashed piece, and not a whole number of them.
        const QByteArray big(3 * 256 * 1024 + 17, 'x');
        QVERIFY(writeFile(tmp.filePath(QStringLiteral("big.bin")), big));
        QCOMPARE(sha256OfFile(tmp.filePath(QStringLiteral("big.bin"))), sha256(big));

        std::vector<SumsEntry> written;
        QString error;
        QVERIFY2(writeFolderSums(tmp.path(), names, &written, &error), qPrintable(error));
        QCOMPARE(int(written.size()), names.size() - 1);  // "./a.bin" is "a.bin"
        QProcess check;
        check.setWorkingDirectory(tmp.path());
        check.start(QStringLiteral("sha256sum"), {QStringLiteral("-c"), QStringLiteral("--strict"), QString::fromLatin1(kSumsFileName)});
        QVERIFY(check.waitForFinished(10000));
        QVERIFY2(check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0, check.readAllStandardError().constData());
        const FolderSums sums = readFolderSums(tmp.path());
        QCOMPARE(sums.state, FolderSums::Present);
        for (const QString& name : names)
            QCOMPARE(checkFolderFile(sums, tmp.path(), name).verdict, SumVerdict::Matches);

        // A name that cannot be listed leaves the earlier file as it was.
        QFile before(sumsFilePath(tmp.path()));
        const QByteArray kept = before.open(QIODevice::ReadOnly) ? before.readAll() : QByteArray();
        for (const QStringList& bad : {QStringList{"a.bin", "none.bin"}, QStringList{"../a.bin"}, QStringList{}}) {
            QVERIFY(!writeFolderSums(tmp.path(), bad, &written, &error) && !error.isEmpty() && written.empty());
            QVERIFY(before.seek(0) && before.readAll() == kept);
        }
    }
};

QTEST_GUILESS_MAIN(TestSha256Sums)
#include "tst_sha256sums.moc"
