#include "update/firmwarefiles.h"

#include "tests/support/fiforelease.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray sha(const QByteArray& bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256); }

bool write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

enum Holder { Upload, Claim, JudgedThenClaimed, JudgedThenSent };
enum Attempt { Written, Cut, Extended, MappedForWriting, Reopened };

} // namespace

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
        QCOMPARE(a->bytes(), QByteArray("first"));
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

    // Nothing holding a sealed copy's descriptor can change its bytes: the kernel may be
    // sending them to cameras, and their digest has been judged.
    void sealedCannotChange_data()
    {
        QTest::addColumn<int>("attempt");
        QTest::newRow("written") << int(Written);
        QTest::newRow("cut") << int(Cut);
        QTest::newRow("extended") << int(Extended);
        QTest::newRow("mapped for writing") << int(MappedForWriting);
        QTest::newRow("written through another descriptor") << int(Reopened);
    }

    void sealedCannotChange()
    {
        QFETCH(int, attempt);
        const QByteArray bytes("the firmware");
        const auto copy = FirmwareCopy::fromBytes(bytes, FirmwareCopy::Holding::Sealed);
        const int fd = copy->sealedDescriptor();
        QVERIFY(fd >= 0);
        const int other = attempt == Reopened ? ::open(qPrintable(QStringLiteral("/proc/self/fd/%1").arg(fd)), O_WRONLY) : -1;
        bool changed = false;
        switch (attempt) {
        case Written: changed = ::pwrite(fd, "X", 1, 0) == 1; break;
        case Cut: changed = ::ftruncate(fd, 3) == 0; break;
        case Extended: changed = ::ftruncate(fd, 4096) == 0; break;
        case MappedForWriting: changed = ::mmap(nullptr, 12, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) != MAP_FAILED; break;
        case Reopened: changed = other >= 0 && ::write(other, "X", 1) == 1; break;
        }
        if (other >= 0)
            ::close(other);
        QVERIFY(!changed);
        struct stat st {};
        QVERIFY(::fstat(fd, &st) == 0 && st.st_size == bytes.size());
        QCOMPARE(copy->bytes(), bytes);
        QCOMPARE(copy->sha256(), sha(bytes));
    }

    // A copy stays while an upload or a claim holds it, or, read only to be judged, until one
    // takes it; then it goes, with its digest, and the file is read and hashed again.
    void released_data()
    {
        QTest::addColumn<int>("holder");
        QTest::addColumn<bool>("sealed");
        for (bool sealed : {true, false}) {
            const char* holding = sealed ? "sealed" : "plain";
            QTest::addRow("upload, %s", holding) << int(Upload) << sealed;
            QTest::addRow("claim, %s", holding) << int(Claim) << sealed;
            QTest::addRow("judged, then claimed, %s", holding) << int(JudgedThenClaimed) << sealed;
            QTest::addRow("judged, then sent, %s", holding) << int(JudgedThenSent) << sealed;
        }
    }

    void released()
    {
        QFETCH(int, holder);
        QFETCH(bool, sealed);
        QTemporaryDir tmp;
        const QString path = QDir(tmp.path()).filePath(QStringLiteral("main.bin"));
        QVERIFY(write(path, "first"));
        FirmwareFiles files;
        files.setHolding(sealed ? FirmwareCopy::Holding::Sealed : FirmwareCopy::Holding::Plain);
        FirmwareFiles::Copy upload;
        FirmwareFiles::Claim claim;
        if (holder == Upload)
            upload = files.file(path);
        else if (holder == Claim)
            claim = files.claim(path);
        if (holder != Upload)
            QCOMPARE(holder == Claim ? files.file(path)->sha256() : files.sha256(path), sha("first"));
        if (holder == JudgedThenClaimed)
            claim = files.claim(path);
        // Whatever the file has become since, what is held, and its digest, are what was read.
        QVERIFY(write(path, "second!"));
        QCOMPARE(files.count(), 1);
        QCOMPARE(files.held(path)->sealedDescriptor() >= 0, sealed);
        QCOMPARE(files.heldSha256(path), sha("first"));
        // An upload that comes and goes takes over what was judged.
        QCOMPARE((holder == JudgedThenSent ? files.file(path) : files.held(path))->bytes(), QByteArray("first"));
        QCOMPARE(files.count(), holder == JudgedThenSent ? 0 : 1);
        upload.reset();
        claim.reset();
        QCOMPARE(files.count(), 0);
        QVERIFY(!files.held(path) && files.heldSha256(path).isEmpty());
        QCOMPARE(files.sha256(path), sha("second!"));
    }
};

QTEST_GUILESS_MAIN(TestFirmwareFiles)
#include "tst_firmwarefiles.moc"
