#include "update/firmwarefiles.h"

#include "tests/support/fiforelease.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class TestFirmwareFiles : public QObject
{
    Q_OBJECT

private slots:
    void refused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << "none.bin";
        QTest::newRow("folder") << "sub";
        QTest::newRow("fifo") << "fifo.bin";  // opening it would block until a writer came
        QTest::newRow("link to a fifo") << "fifo-link.bin";
    }

    void refused()
    {
        QFETCH(QString, name);
        QTemporaryDir tmp;
        const QDir dir(tmp.path());
        QVERIFY(dir.mkdir(QStringLiteral("sub")));
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo.bin"))).constData(), 0600), 0);
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("fifo.bin")), dir.filePath(QStringLiteral("fifo-link.bin"))));
        const FifoRelease release(QFile::encodeName(dir.filePath(QStringLiteral("fifo.bin"))));
        FirmwareFiles files;
        QString error;
        QVERIFY(!files.file(dir.filePath(name), &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(files.count(), 0);
    }

    // Every path to one file gives the one copy read first, even after the file changed;
    // so does its digest.
    void sharedAndReadOnce()
    {
        QTemporaryDir tmp;
        const QDir dir(tmp.path());
        QFile f(dir.filePath(QStringLiteral("main.bin")));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("first") == 5);
        f.close();
        QVERIFY(QFile::link(f.fileName(), dir.filePath(QStringLiteral("link.bin"))));
        FirmwareFiles files;
        const auto a = files.file(f.fileName());
        QVERIFY(a);
        QCOMPARE(*a, QByteArray("first"));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write("second") == 6);
        f.close();
        QCOMPARE(files.file(tmp.path() + QStringLiteral("//main.bin")).get(), a.get());
        QCOMPARE(files.file(dir.filePath(QStringLiteral("link.bin"))).get(), a.get());
        QCOMPARE(files.sha256(dir.filePath(QStringLiteral("link.bin"))), QCryptographicHash::hash("first", QCryptographicHash::Sha256));
        QByteArray digest;
        QCOMPARE(files.file(f.fileName(), nullptr, &digest).get(), a.get());
        QCOMPARE(digest, files.heldSha256(f.fileName()));
        QVERIFY(files.heldSha256(tmp.path()).isEmpty() && files.sha256(dir.filePath(QStringLiteral("none"))).isEmpty());
        QCOMPARE(files.count(), 1);
        QCOMPARE(files.totalBytes(), 5);
    }
};

QTEST_GUILESS_MAIN(TestFirmwareFiles)
#include "tst_firmwarefiles.moc"
