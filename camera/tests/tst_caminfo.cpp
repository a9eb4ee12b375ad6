#include "camera/caminfo.h"

#include <QtTest>

// none: n of the "CAM_MODELID_NONEn" tag when no model is found.
struct Identification { int qid; QString cpu, output; int model, none; };
Q_DECLARE_METATYPE(Identification)

// Who prints a spelling, so that the row also holds the printer to it.
enum Printer { NoPrinter, IdName, CheckName, DisplayName };

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

    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("model");     // CAM_MODELID_NONE: refused
        QTest::addColumn<int>("printer");
        QTest::addColumn<QString>("why");   // a refusal's reason holds this
        struct Model { int id; const char* core; const char* display; const char* section; };
        const Model models[] = {
            {CAM_MODELID_QV_TK10, "TK10", "QV-TK10", "TK10"},
            {CAM_MODELID_QV_TKD7_S, "TKD7_S", "QV-TKD7S", "TKD7_S"},
            {CAM_MODELID_QV_TKD7_H, "TKD7_H", "QV-TKD7H", "TKD7_H"},
            {CAM_MODELID_QV_TK300, "TK300", "QV-TK300", "TK300"},
            {CAM_MODELID_QV_OLD_TK20_S, "OLD_TK20_S", nullptr, "TK20S_OLDFPGA"},
            {CAM_MODELID_QV_OLD_TK20_H, "OLD_TK20_H", nullptr, "TK20H_OLDFPGA"},
            {CAM_MODELID_QV_NEW_TK20_S, "NEW_TK20_S", nullptr, "TK20S_NEWFPGA"},
            {CAM_MODELID_QV_NEW_TK20_H, "NEW_TK20_H", nullptr, "TK20H_NEWFPGA"},
            {CAM_MODELID_QV_OLD_TK15_S, "OLD_TK15_S", nullptr, "TK15S_OLDFPGA"},
            {CAM_MODELID_QV_OLD_TK15_H, "OLD_TK15_H", nullptr, "TK15H_OLDFPGA"},
            {CAM_MODELID_QV_NEW_TK15_S, "NEW_TK15_S", nullptr, "TK15S_NEWFPGA"},
            {CAM_MODELID_QV_NEW_TK15_H, "NEW_TK15_H", nullptr, "TK15H_NEWFPGA"},
        };
        const auto row = [](const QString& what, const QString& name, int model, int printer = NoPrinter,
                            const QString& why = {}) {
            QTest::newRow(qPrintable(what + QLatin1Char(' ') + name)) << name << model << printer << why;
        };
        for (const Model& m : models) {
            const QString core = QLatin1String(m.core);
            row(QStringLiteral("identifier (JSON, simulator, soak)"), QLatin1String("CAM_MODELID_QV_") + core, m.id, IdName);
            row(QStringLiteral("checker and fleet"), QLatin1String("QV_") + core, m.id, CheckName);
            row(QStringLiteral("simulator and debug trace"), core, m.id);
            row(QStringLiteral("list file section"), QLatin1String(m.section), m.id);
            row(QStringLiteral("lower case"), QLatin1String("qv_") + core.toLower(), m.id);
            row(QStringLiteral("dashes"), QStringLiteral("QV-") + QString(core).replace(QLatin1Char('_'), QLatin1Char('-')), m.id);
            if (m.display) {
                row(QStringLiteral("window"), QLatin1String(m.display), m.id, DisplayName);
                row(QStringLiteral("window, lower case, blanks around"), QStringLiteral(" %1 ").arg(QString::fromLatin1(m.display).toLower()), m.id);
            }
        }
        // The window shows both FPGA generations of a variant alike: neither is chosen for it.
        row(QStringLiteral("window, two models"), QStringLiteral("QV-TK20S"), CAM_MODELID_NONE, NoPrinter,
            QStringLiteral("\"QV-TK20S\" names QV_OLD_TK20_S and QV_NEW_TK20_S alike"));
        row(QStringLiteral("window, two models"), QStringLiteral("QV-TK20H"), CAM_MODELID_NONE, NoPrinter,
            QStringLiteral("QV_OLD_TK20_H and QV_NEW_TK20_H"));
        row(QStringLiteral("window, two models"), QStringLiteral("qv-tk15s"), CAM_MODELID_NONE, NoPrinter,
            QStringLiteral("QV_OLD_TK15_S and QV_NEW_TK15_S"));
        row(QStringLiteral("window, two models"), QStringLiteral("TK15H"), CAM_MODELID_NONE, NoPrinter,
            QStringLiteral("QV_OLD_TK15_H and QV_NEW_TK15_H"));
        const QString all = QStringLiteral("the models are QV_TK10, QV_TKD7_S, QV_TKD7_H, QV_TK300, QV_OLD_TK20_S, "
                                           "QV_OLD_TK20_H, QV_NEW_TK20_S, QV_NEW_TK20_H, QV_OLD_TK15_S, QV_OLD_TK15_H, "
                                           "QV_NEW_TK15_S and QV_NEW_TK15_H");
        for (const char* none : {"QV_TK99", "", "QV_", "CAM_MODELID_NONE", "----", "4", "TK20", "OLD_TK20", "TK300X"})
            row(QStringLiteral("no model"), QLatin1String(none), CAM_MODELID_NONE, NoPrinter, all);
    }

    void names()
    {
        QFETCH(QString, name);
        QFETCH(int, model);
        QFETCH(int, printer);
        QFETCH(QString, why);
        QString refused = QStringLiteral("untouched");
        QCOMPARE(modelIdFromName(name, &refused), model);
        if (model == CAM_MODELID_NONE)
            QVERIFY2(refused.contains(why), qPrintable(refused));
        else
            QCOMPARE(refused, QStringLiteral("untouched"));
        // The spelling is the one its program prints, so what one program writes another reads.
        if (printer == IdName)
            QCOMPARE(modelIdName(model), name);
        else if (printer == CheckName)
            QCOMPARE(checkModelName(model), name);
        else if (printer == DisplayName)
            QCOMPARE(modelDisplayName(model), name);
    }
};

QTEST_APPLESS_MAIN(TestCamInfo)
#include "tst_caminfo.moc"
