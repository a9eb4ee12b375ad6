#include "camera/caminfo.h"

#include <QtTest>

// none: n of the "CAM_MODELID_NONEn" tag when no model is found.
struct Identification { int qid; QString cpu, output; int model, none; };
Q_DECLARE_METATYPE(Identification)

class TestCamInfo : public QObject
{
    Q_OBJECT

private slots:
    void identify_data()
    {
        QTest::addColumn<Identification>("i");
        const auto row = [](const char* name, int qid, const char* c, const char* o, int model, int none = 0) {
            QTest::newRow(name) << Identification{qid, QString::fromLatin1(c), QString::fromLatin1(o), model, none};
        };
        // A TK300 answer decides alone, whatever the versions say.
        row("tk300 any versions", CAM_QID_TK300, "V02.10", "V01.60", CAM_MODELID_QV_TK300);
        // The CPU ranges decide, not the model answer.
        row("tk10 low bound", CAM_QID_TK10, "V01.00", "", CAM_MODELID_QV_TK10);
        row("tk10 high bound", CAM_QID_TK20, "V01.99", "V09.99", CAM_MODELID_QV_TK10);
        row("below tk10", CAM_QID_TK10, "V00.99", "V01.30", CAM_MODELID_NONE, 6);
        // TKD7 variants: narrower output FPGA ranges than TK15/TK20.
        row("tkd7 s low", CAM_QID_TK10, "V02.00", "V01.30", CAM_MODELID_QV_TKD7_S);
        row("tkd7 s high", CAM_QID_TK10, "V02.99", "V01.39", CAM_MODELID_QV_TKD7_S);
        row("tkd7 gap 1.40", CAM_QID_TK10, "V02.10", "V01.40", CAM_MODELID_NONE, 1);
        row("tkd7 h low", CAM_QID_TK10, "V02.10", "V01.50", CAM_MODELID_QV_TKD7_H);
        row("tkd7 h high", CAM_QID_TK10, "V02.10", "V01.69", CAM_MODELID_QV_TKD7_H);
        row("tkd7 above h", CAM_QID_TK10, "V02.10", "V01.70", CAM_MODELID_NONE, 1);
        row("tkd7 below s", CAM_QID_TK10, "V02.10", "V01.29", CAM_MODELID_NONE, 1);
        row("tkd7 empty output", CAM_QID_TK10, "V02.10", "", CAM_MODELID_NONE, 1);
        // TK15, old generation: the lone V04.00 and V04.02..V04.49.
        row("old tk15 V04.00 s", CAM_QID_TK20, "V04.00", "V01.30", CAM_MODELID_QV_OLD_TK15_S);
        row("old tk15 V04.02 s 1.49", CAM_QID_TK20, "V04.02", "V01.49", CAM_MODELID_QV_OLD_TK15_S);
        row("old tk15 V04.49 h 1.50", CAM_QID_TK20, "V04.49", "V01.50", CAM_MODELID_QV_OLD_TK15_H);
        row("old tk15 h 1.99", CAM_QID_TK20, "V04.20", "V01.99", CAM_MODELID_QV_OLD_TK15_H);
        row("old tk15 no variant", CAM_QID_TK20, "V04.20", "V01.29", CAM_MODELID_NONE, 2);
        row("old tk15 above h", CAM_QID_TK20, "V04.20", "V02.00", CAM_MODELID_NONE, 2);
        // TK15, new generation: the lone V04.01 and V04.50..V04.99.
        row("new tk15 V04.01 s", CAM_QID_TK20, "V04.01", "V01.40", CAM_MODELID_QV_NEW_TK15_S);
        row("new tk15 V04.50 h", CAM_QID_TK20, "V04.50", "V01.70", CAM_MODELID_QV_NEW_TK15_H);
        row("new tk15 V04.99 s", CAM_QID_TK20, "V04.99", "V01.39", CAM_MODELID_QV_NEW_TK15_S);
        row("new tk15 no variant", CAM_QID_TK20, "V04.60", "", CAM_MODELID_NONE, 3);
        // TK20 generations, with the wide S/H ranges (V01.45 is S here, nothing for TKD7).
        row("old tk20 s 1.45", CAM_QID_TK20, "V03.10", "V01.45", CAM_MODELID_QV_OLD_TK20_S);
        row("old tk20 low h", CAM_QID_TK20, "V03.00", "V01.80", CAM_MODELID_QV_OLD_TK20_H);
        row("old tk20 V03.49", CAM_QID_TK20, "V03.49", "V01.30", CAM_MODELID_QV_OLD_TK20_S);
        row("old tk20 no variant", CAM_QID_TK20, "V03.10", "V01.00", CAM_MODELID_NONE, 4);
        row("new tk20 V03.50 s", CAM_QID_TK20, "V03.50", "V01.30", CAM_MODELID_QV_NEW_TK20_S);
        row("new tk20 V03.99 h", CAM_QID_TK20, "V03.99", "V01.99", CAM_MODELID_QV_NEW_TK20_H);
        row("new tk20 no variant", CAM_QID_TK20, "V03.60", "V03.00", CAM_MODELID_NONE, 5);
        // Outside every rule, and text order rather than numbers.
        row("empty cpu", CAM_QID_TK10, "", "V01.30", CAM_MODELID_NONE, 6);
        row("V05.00", CAM_QID_TK20, "V05.00", "V01.30", CAM_MODELID_NONE, 6);
        row("one digit V1.50 sorts after V01.99", CAM_QID_TK10, "V1.50", "V01.30", CAM_MODELID_NONE, 6);
        row("prefix V01 shorter than bound", CAM_QID_TK10, "V01", "", CAM_MODELID_NONE, 6);
        row("longer text inside range", CAM_QID_TK10, "V01.20xy", "", CAM_MODELID_QV_TK10);
        row("qid none still decides by versions", CAM_QID_NONE, "V03.60", "V01.55", CAM_MODELID_QV_NEW_TK20_H);
    }

    void identify()
    {
        QFETCH(Identification, i);
        const ModelIdentification found = identifyModel(i.qid, i.cpu, i.output);
        QCOMPARE(found.modelId, i.model);
        QCOMPARE(found.tag, i.none ? QStringLiteral("CAM_MODELID_NONE%1").arg(i.none) : modelIdName(i.model));
    }
};

QTEST_APPLESS_MAIN(TestCamInfo)
#include "tst_caminfo.moc"
