// The shipped sample folder. What the tool's own rules say of it is checked by
// cli/check/tests/tst_foldercheck.cpp; updates from it run in app/tests/tst_faults.cpp.
#include "sim/samplefolder.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class TestSampleFolder : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase() { QVERIFY(dir.isValid() && writeSampleFolder(dir.path().toStdString())); }

    // The folder under samples/ is what the generator writes today.
    void shippedFolderIsCurrent()
    {
        const QDir shipped(QStringLiteral(KELVORA_SHIPPED_SAMPLES));
        const QStringList names = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
        QCOMPARE(shipped.entryList(QDir::Files, QDir::Name), names);
        for (const QString& name : names) {
            QFile a(dir.filePath(name)), b(shipped.filePath(name));
            QVERIFY2(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) && a.readAll() == b.readAll(), qPrintable(name));
        }
    }
};

QTEST_GUILESS_MAIN(TestSampleFolder)
#include "tst_samplefolder.moc"
