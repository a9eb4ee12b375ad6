#include "firmware/records.h"

#include <QtTest>

namespace {

vup_file_info filledSet()
{
    vup_file_info set;
    set.DirPath = QStringLiteral("/tmp/fw");
    set.Base64 = QStringLiteral("YWRtaW46cGFzcw==");
    set.CamIPAddress = QStringLiteral("127.0.0.1:8080");
    set.Model = 7;
    int n = 1;
    for (const Component& c : kComponents) {
        file_info& f = set.*c.field;
        f.FileName = QLatin1String(c.member) + QLatin1String(".bin");
        f.Version = QStringLiteral("V01.%1").arg(n, 2, 10, QLatin1Char('0'));
        f.Vupno = n;
        f.Select = n % 2;
        ++n;
    }
    return set;
}

void verifyEmpty(const vup_file_info& set)
{
    QVERIFY(set.DirPath.isEmpty());
    QVERIFY(set.Base64.isEmpty());
    QVERIFY(set.CamIPAddress.isEmpty());
    QCOMPARE(set.Model, 0);
    for (const Component& c : kComponents) {
        const file_info& f = set.*c.field;
        QVERIFY2(f.FileName.isEmpty(), c.member);
        QVERIFY2(f.Version.isEmpty(), c.member);
        QCOMPARE(f.Vupno, 0);
        QCOMPARE(f.Select, 0);
    }
}

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void componentTable();
    void newRecordIsEmpty();
    void resetEmptiesEverything();
    void copyIsIndependent_data();
    void copyIsIndependent();
};

void TestRecords::componentTable()
{
    // Every member appears once, in record order; only the eeprom key differs from its member.
    const vup_file_info set = filledSet();
    QSet<QString> seen;
    int previousOffset = -1;
    for (const Component& c : kComponents) {
        QVERIFY(!seen.contains(QLatin1String(c.member)));
        seen.insert(QLatin1String(c.member));
        const int offset = int(reinterpret_cast<const char*>(&(set.*c.field)) - reinterpret_cast<const char*>(&set));
        QVERIFY2(offset > previousOffset, c.member);
        previousOffset = offset;
        if (QLatin1String(c.member) == QLatin1String("cam_eeprom"))
            QCOMPARE(QLatin1String(c.key), QLatin1String("eeprom_cam"));
        else
            QCOMPARE(QLatin1String(c.key), QLatin1String(c.member));
    }
    QCOMPARE(seen.size(), kComponentCount);
}

void TestRecords::newRecordIsEmpty()
{
    verifyEmpty(vup_file_info{});
}

void TestRecords::resetEmptiesEverything()
{
    vup_file_info set = filledSet();
    resetVupFileInfo(set);
    verifyEmpty(set);
}

void TestRecords::copyIsIndependent_data()
{
    QTest::addColumn<bool>("byAssignment");
    QTest::newRow("copy construction") << false;
    QTest::newRow("copy assignment") << true;
}

void TestRecords::copyIsIndependent()
{
    QFETCH(bool, byAssignment);
    vup_file_info source = filledSet();
    vup_file_info copy;
    if (byAssignment)
        copy = source;
    else
        copy = vup_file_info(source);

    resetVupFileInfo(source);
    source.cam_cpu.FileName = QStringLiteral("changed.bin");

    const vup_file_info expected = filledSet();
    QCOMPARE(copy.DirPath, expected.DirPath);
    QCOMPARE(copy.Base64, expected.Base64);
    QCOMPARE(copy.CamIPAddress, expected.CamIPAddress);
    QCOMPARE(copy.Model, expected.Model);
    for (const Component& c : kComponents) {
        QCOMPARE((copy.*c.field).FileName, (expected.*c.field).FileName);
        QCOMPARE((copy.*c.field).Version, (expected.*c.field).Version);
        QCOMPARE((copy.*c.field).Vupno, (expected.*c.field).Vupno);
        QCOMPARE((copy.*c.field).Select, (expected.*c.field).Select);
    }
}

QTEST_APPLESS_MAIN(TestRecords)
#include "tst_records.moc"
