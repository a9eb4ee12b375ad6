#include "camera/caminfo.h"
#include "launch/compat.h"

#include <QtTest>

namespace {

enum Col { CamCpu, NetworkCpu, ServoCpu, InterfaceCpu, FrontFpga, BackendFpga, LensFpga, CamEeprom, InterfaceEeprom };

vup_file_info withVersion(int component, const QString& version)
{
    vup_file_info set;
    (set.*kComponents[static_cast<size_t>(component)].field).Version = version;
    return set;
}

} // namespace

class TestCompat : public QObject
{
    Q_OBJECT

private slots:
    void singleVersion_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<int>("component");
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("result");
        const auto row = [](const char* name, int model, int component, const char* version, int result) {
            QTest::newRow(name) << model << component << QString::fromLatin1(version) << result;
        };
        row("tk10 backend V01.29", 1, BackendFpga, "V01.29", 0);
        row("tk10 backend V01.30", 1, BackendFpga, "V01.30", 1);
        row("tk10 cpu low", 1, CamCpu, "V01.00", 0);
        row("tk10 cpu below", 1, CamCpu, "V00.99", 1);
        row("tk10 interface eeprom V03.99", 1, InterfaceEeprom, "V03.99", 0);
        row("tk10 interface eeprom V04.00", 1, InterfaceEeprom, "V04.00", 1);
        row("tk10 interface cpu free", 1, InterfaceCpu, "V99.99", 0);
        row("tkd7 s backend V01.50", 2, BackendFpga, "V01.50", 1);
        row("tkd7 h backend V01.50 like s", 3, BackendFpga, "V01.50", 1);
        row("tkd7 h backend V01.39", 3, BackendFpga, "V01.39", 0);
        row("tkd7 front V01.09", 2, FrontFpga, "V01.09", 1);
        row("tkd7 network free", 3, NetworkCpu, "V09.00", 0);
        row("tkd7 interface eeprom free", 2, InterfaceEeprom, "V09.00", 0);
        row("tk300 interface cpu tested", 4, InterfaceCpu, "V02.00", 1);
        row("tk300 network V02.99", 4, NetworkCpu, "V02.99", 0);
        row("tk300 front free", 4, FrontFpga, "V09.00", 0);
        row("tk300 backend free", 4, BackendFpga, "V09.00", 0);
        row("old tk20 s cpu V03.49", 5, CamCpu, "V03.49", 0);
        row("old tk20 s cpu V03.50", 5, CamCpu, "V03.50", 1);
        row("old tk20 h backend V01.49", 6, BackendFpga, "V01.49", 1);
        row("new tk20 s front V02.99", 7, FrontFpga, "V02.99", 1);
        row("new tk20 h backend V01.50", 8, BackendFpga, "V01.50", 0);
        row("old tk15 s cpu V04.00 exact", 9, CamCpu, "V04.00", 0);
        row("old tk15 s cpu V04.01", 9, CamCpu, "V04.01", 1);
        row("old tk15 h cpu V04.01", 10, CamCpu, "V04.01", 1);
        row("old tk15 s cpu V04.49", 9, CamCpu, "V04.49", 0);
        row("old tk15 s cpu V04.50", 9, CamCpu, "V04.50", 1);
        row("new tk15 s cpu V04.01 exact", 11, CamCpu, "V04.01", 0);
        row("new tk15 s cpu V04.00", 11, CamCpu, "V04.00", 1);
        row("new tk15 s cpu V04.49", 11, CamCpu, "V04.49", 0);
        row("new tk15 h cpu V04.01 exact", 12, CamCpu, "V04.01", 0);
        row("new tk15 h cpu V04.49", 12, CamCpu, "V04.49", 1);
        row("new tk15 h cpu V04.50", 12, CamCpu, "V04.50", 0);
        row("new tk15 h network V06.99", 12, NetworkCpu, "V06.99", 1);
        row("new tk15 h front V01.99", 12, FrontFpga, "V01.99", 1);
        row("one digit V1.50 sorts after V01.99", 1, CamCpu, "V1.50", 1);
        row("lower-case v", 1, CamCpu, "v01.10", 1);
        row("trailing blank above bound", 1, BackendFpga, "V01.29 ", 1);
        row("no model refuses an empty folder", 0, CamCpu, "", 1);
        row("model 13", 13, CamCpu, "", 1);
    }

    void singleVersion()
    {
        QFETCH(int, model);
        QFETCH(int, component);
        QFETCH(QString, version);
        QFETCH(int, result);
        QCOMPARE(checkFileVersions(model, withVersion(component, version)), result);
    }

    // An empty set passes every model; lens FPGA and camera EEPROM are never tested.
    void unconstrained()
    {
        for (int model = kFirstModelId; model <= kLastModelId; ++model) {
            QCOMPARE(checkFileVersions(model, vup_file_info{}), 0);
            for (int component : {LensFpga, CamEeprom}) {
                QVERIFY(!versionConstrained(model, component));
                QCOMPARE(checkFileVersions(model, withVersion(component, QStringLiteral("garbage"))), 0);
            }
        }
    }

    void wholeSet()
    {
        // An unticked component out of range still refuses the whole set.
        vup_file_info set;
        set.cam_cpu = {QStringLiteral("main.bin"), QStringLiteral("V01.10"), 1, RMOCAM_TRUE};
        set.backend_fpga = {QStringLiteral("back.bin"), QStringLiteral("V01.30"), 2, RMOCAM_FALSE};
        QCOMPARE(checkFileVersions(CAM_MODELID_QV_TK10, set), 1);
        set.backend_fpga.Version = QStringLiteral("V01.20");
        QCOMPARE(checkFileVersions(CAM_MODELID_QV_TK10, set), 0);
        // The first refusal in component order is the one reported.
        set.servo_cpu.Version = QStringLiteral("V02.00");
        set.backend_fpga.Version = QStringLiteral("V09.00");
        int refused = 99;
        QCOMPARE(checkFileVersions(CAM_MODELID_QV_TK10, set, &refused), 1);
        QCOMPARE(refused, int(ServoCpu));
        QCOMPARE(checkFileVersions(0, set, &refused), 1);
        QCOMPARE(refused, -1);
        QCOMPARE(allowedVersionsText(CAM_MODELID_QV_OLD_TK15_S, CamCpu), QStringLiteral("V04.00 or V04.02-V04.49"));
        QCOMPARE(allowedVersionsText(CAM_MODELID_QV_TK10, BackendFpga), QStringLiteral("V01.00-V01.29"));
        QVERIFY(allowedVersionsText(CAM_MODELID_QV_TK10, LensFpga).isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestCompat)
#include "tst_compat.moc"
