#include "camera/caminfo.h"

#include <QtTest>

class TestCamInfo : public QObject
{
    Q_OBJECT

private slots:
    void identify_data();
    void identify();
    void names_data();
    void names();
};

void TestCamInfo::identify_data()
{
    QTest::addColumn<int>("qid");
    QTest::addColumn<QString>("cpu");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("tag");

    const auto row = [](const char* name, int qid, const char* c, const char* o, int model, const char* tag) {
        QTest::newRow(name) << qid << QString::fromLatin1(c) << QString::fromLatin1(o) << model << QString::fromLatin1(tag);
    };

    // A TK300 answer decides alone, whatever the versions say.
    row("tk300 any versions", CAM_QID_TK300, "V02.10", "V01.60", CAM_MODELID_QV_TK300, "CAM_MODELID_QV_TK300");
    row("tk300 empty versions", CAM_QID_TK300, "", "", CAM_MODELID_QV_TK300, "CAM_MODELID_QV_TK300");
    row("tk300 garbage", CAM_QID_TK300, "zz", "??", CAM_MODELID_QV_TK300, "CAM_MODELID_QV_TK300");
    // The CPU ranges decide, not the model answer.
    row("tk10 low bound", CAM_QID_TK10, "V01.00", "", CAM_MODELID_QV_TK10, "CAM_MODELID_QV_TK10");
    row("tk10 high bound", CAM_QID_TK20, "V01.99", "V09.99", CAM_MODELID_QV_TK10, "CAM_MODELID_QV_TK10");
    row("below tk10", CAM_QID_TK10, "V00.99", "V01.30", CAM_MODELID_NONE, "CAM_MODELID_NONE6");
    // TKD7 variants: narrower output FPGA ranges than TK15/TK20.
    row("tkd7 s low", CAM_QID_TK10, "V02.00", "V01.30", CAM_MODELID_QV_TKD7_S, "CAM_MODELID_QV_TKD7_S");
    row("tkd7 s high", CAM_QID_TK10, "V02.99", "V01.39", CAM_MODELID_QV_TKD7_S, "CAM_MODELID_QV_TKD7_S");
    row("tkd7 gap 1.40", CAM_QID_TK10, "V02.10", "V01.40", CAM_MODELID_NONE, "CAM_MODELID_NONE1");
    row("tkd7 gap 1.45", CAM_QID_TK10, "V02.10", "V01.45", CAM_MODELID_NONE, "CAM_MODELID_NONE1");
    row("tkd7 h low", CAM_QID_TK10, "V02.10", "V01.50", CAM_MODELID_QV_TKD7_H, "CAM_MODELID_QV_TKD7_H");
    row("tkd7 h high", CAM_QID_TK10, "V02.10", "V01.69", CAM_MODELID_QV_TKD7_H, "CAM_MODELID_QV_TKD7_H");
    row("tkd7 above h", CAM_QID_TK10, "V02.10", "V01.70", CAM_MODELID_NONE, "CAM_MODELID_NONE1");
    row("tkd7 below s", CAM_QID_TK10, "V02.10", "V01.29", CAM_MODELID_NONE, "CAM_MODELID_NONE1");
    row("tkd7 empty output", CAM_QID_TK10, "V02.10", "", CAM_MODELID_NONE, "CAM_MODELID_NONE1");
    // TK15, old generation: the lone V04.00 and V04.02..V04.49.
    row("old tk15 V04.00 s", CAM_QID_TK20, "V04.00", "V01.30", CAM_MODELID_QV_OLD_TK15_S, "CAM_MODELID_QV_OLD_TK15_S");
    row("old tk15 V04.02 s 1.49", CAM_QID_TK20, "V04.02", "V01.49", CAM_MODELID_QV_OLD_TK15_S, "CAM_MODELID_QV_OLD_TK15_S");
    row("old tk15 V04.49 h 1.50", CAM_QID_TK20, "V04.49", "V01.50", CAM_MODELID_QV_OLD_TK15_H, "CAM_MODELID_QV_OLD_TK15_H");
    row("old tk15 h 1.99", CAM_QID_TK20, "V04.20", "V01.99", CAM_MODELID_QV_OLD_TK15_H, "CAM_MODELID_QV_OLD_TK15_H");
    row("old tk15 no variant", CAM_QID_TK20, "V04.20", "V01.29", CAM_MODELID_NONE, "CAM_MODELID_NONE2");
    row("old tk15 above h", CAM_QID_TK20, "V04.20", "V02.00", CAM_MODELID_NONE, "CAM_MODELID_NONE2");
    // TK15, new generation: the lone V04.01 and V04.50..V04.99.
    row("new tk15 V04.01 s", CAM_QID_TK20, "V04.01", "V01.40", CAM_MODELID_QV_NEW_TK15_S, "CAM_MODELID_QV_NEW_TK15_S");
    row("new tk15 V04.50 h", CAM_QID_TK20, "V04.50", "V01.70", CAM_MODELID_QV_NEW_TK15_H, "CAM_MODELID_QV_NEW_TK15_H");
    row("new tk15 V04.99 s", CAM_QID_TK20, "V04.99", "V01.39", CAM_MODELID_QV_NEW_TK15_S, "CAM_MODELID_QV_NEW_TK15_S");
    row("new tk15 no variant", CAM_QID_TK20, "V04.60", "", CAM_MODELID_NONE, "CAM_MODELID_NONE3");
    // TK20 generations, with the wide S/H ranges (V01.45 is S here, nothing for TKD7).
    row("old tk20 s 1.45", CAM_QID_TK20, "V03.10", "V01.45", CAM_MODELID_QV_OLD_TK20_S, "CAM_MODELID_QV_OLD_TK20_S");
    row("old tk20 low h", CAM_QID_TK20, "V03.00", "V01.80", CAM_MODELID_QV_OLD_TK20_H, "CAM_MODELID_QV_OLD_TK20_H");
    row("old tk20 V03.49", CAM_QID_TK20, "V03.49", "V01.30", CAM_MODELID_QV_OLD_TK20_S, "CAM_MODELID_QV_OLD_TK20_S");
    row("old tk20 no variant", CAM_QID_TK20, "V03.10", "V01.00", CAM_MODELID_NONE, "CAM_MODELID_NONE4");
    row("new tk20 V03.50 s", CAM_QID_TK20, "V03.50", "V01.30", CAM_MODELID_QV_NEW_TK20_S, "CAM_MODELID_QV_NEW_TK20_S");
    row("new tk20 V03.99 h", CAM_QID_TK20, "V03.99", "V01.99", CAM_MODELID_QV_NEW_TK20_H, "CAM_MODELID_QV_NEW_TK20_H");
    row("new tk20 no variant", CAM_QID_TK20, "V03.60", "V03.00", CAM_MODELID_NONE, "CAM_MODELID_NONE5");
    // Outside every rule, and text order rather than numbers.
    row("empty cpu", CAM_QID_TK10, "", "V01.30", CAM_MODELID_NONE, "CAM_MODELID_NONE6");
    row("empty both", CAM_QID_TK20, "", "", CAM_MODELID_NONE, "CAM_MODELID_NONE6");
    row("V05.00", CAM_QID_TK20, "V05.00", "V01.30", CAM_MODELID_NONE, "CAM_MODELID_NONE6");
    row("one digit V1.50 sorts after V01.99", CAM_QID_TK10, "V1.50", "V01.30", CAM_MODELID_NONE, "CAM_MODELID_NONE6");
    row("prefix V01 shorter than bound", CAM_QID_TK10, "V01", "", CAM_MODELID_NONE, "CAM_MODELID_NONE6");
    row("longer text inside range", CAM_QID_TK10, "V01.20xy", "", CAM_MODELID_QV_TK10, "CAM_MODELID_QV_TK10");
    row("qid none still decides by versions", CAM_QID_NONE, "V03.60", "V01.55", CAM_MODELID_QV_NEW_TK20_H, "CAM_MODELID_QV_NEW_TK20_H");
}

void TestCamInfo::identify()
{
    QFETCH(int, qid);
    QFETCH(QString, cpu);
    QFETCH(QString, output);
    QFETCH(int, model);
    QFETCH(QString, tag);

    const ModelIdentification found = identifyModel(qid, cpu, output);
    QCOMPARE(found.modelId, model);
    QCOMPARE(found.tag, tag);
}

void TestCamInfo::names_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("shortName");

    QTest::newRow("none") << 0 << "----" << "";
    QTest::newRow("1") << 1 << "QV-TK10" << "QV_TK10";
    QTest::newRow("2") << 2 << "QV-TKD7S" << "QV_TKD7_S";
    QTest::newRow("3") << 3 << "QV-TKD7H" << "QV_TKD7_H";
    QTest::newRow("4") << 4 << "QV-TK300" << "QV_TK300";
    QTest::newRow("5") << 5 << "QV-TK20S" << "QV_OLD_TK20_S";
    QTest::newRow("6") << 6 << "QV-TK20H" << "QV_OLD_TK20_H";
    QTest::newRow("7") << 7 << "QV-TK20S" << "QV_NEW_TK20_S";
    QTest::newRow("8") << 8 << "QV-TK20H" << "QV_NEW_TK20_H";
    QTest::newRow("9") << 9 << "QV-TK15S" << "QV_OLD_TK15_S";
    QTest::newRow("10") << 10 << "QV-TK15H" << "QV_OLD_TK15_H";
    QTest::newRow("11") << 11 << "QV-TK15S" << "QV_NEW_TK15_S";
    QTest::newRow("12") << 12 << "QV-TK15H" << "QV_NEW_TK15_H";
    QTest::newRow("13 is no model") << 13 << "----" << "";
    QTest::newRow("negative is no model") << -1 << "----" << "";
}

void TestCamInfo::names()
{
    QFETCH(int, id);
    QFETCH(QString, display);
    QFETCH(QString, shortName);

    QCOMPARE(modelDisplayName(id), display);
    if (shortName.isEmpty()) {
        QVERIFY(!isValidModelId(id));
        return;
    }
    QCOMPARE(modelIdName(id), QLatin1String("CAM_MODELID_") + shortName);
    QCOMPARE(modelIdFromName(shortName), id);
    QCOMPARE(modelIdFromName(modelIdName(id)), id);
}

QTEST_APPLESS_MAIN(TestCamInfo)
#include "tst_caminfo.moc"
