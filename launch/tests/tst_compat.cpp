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
        QTest::addColumn<QStringList>("accepted");
        QTest::addColumn<QStringList>("refused");
        const auto row = [](const char* name, int model, int component, const QStringList& ok, const QStringList& no) {
            QTest::newRow(name) << model << component << ok << no;
        };
        row("tk10 backend", 1, BackendFpga, {"V01.29"}, {"V01.30", "V01.29 "});
        row("tk10 cpu; V1.50 sorts after V01.99", 1, CamCpu, {"V01.00"}, {"V00.99", "V1.50", "v01.10"});
        row("tk10 interface eeprom", 1, InterfaceEeprom, {"V03.99"}, {"V04.00"});
        row("tk10 interface cpu free", 1, InterfaceCpu, {"V99.99"}, {});
        row("tkd7 s backend", 2, BackendFpga, {}, {"V01.50"});
        row("tkd7 h backend like s", 3, BackendFpga, {"V01.39"}, {"V01.50"});
        row("tkd7 front", 2, FrontFpga, {}, {"V01.09"});
        row("tk300 interface cpu", 4, InterfaceCpu, {}, {"V02.00"});
        row("tk300 network", 4, NetworkCpu, {"V02.99"}, {});
        row("old tk20 s cpu", 5, CamCpu, {"V03.49"}, {"V03.50"});
        row("old tk20 h backend", 6, BackendFpga, {}, {"V01.49"});
        row("new tk20 s front", 7, FrontFpga, {}, {"V02.99"});
        row("new tk20 h backend", 8, BackendFpga, {"V01.50"}, {});
        row("old tk15 s cpu", 9, CamCpu, {"V04.00", "V04.49"}, {"V04.01", "V04.50"});
        row("old tk15 h cpu", 10, CamCpu, {}, {"V04.01"});
        row("new tk15 s cpu", 11, CamCpu, {"V04.01", "V04.49"}, {"V04.00"});
        row("new tk15 h cpu", 12, CamCpu, {"V04.01", "V04.50"}, {"V04.49"});
        row("new tk15 h network", 12, NetworkCpu, {}, {"V06.99"});
        row("new tk15 h front", 12, FrontFpga, {}, {"V01.99"});
        row("no model refuses an empty folder", 0, CamCpu, {}, {""});
        row("model 13", 13, CamCpu, {}, {""});
    }

    void singleVersion()
    {
        QFETCH(int, model);
        QFETCH(int, component);
        QFETCH(QStringList, accepted);
        QFETCH(QStringList, refused);
        for (const QString& version : accepted)
            QVERIFY2(checkFileVersions(model, withVersion(component, version)) == 0, qPrintable(version));
        for (const QString& version : refused)
            QVERIFY2(checkFileVersions(model, withVersion(component, version)) == 1, qPrintable(version));
    }

    // An empty set passes every model but none (0); lens FPGA and camera EEPROM are never tested.
    void unconstrained()
    {
        QCOMPARE(checkFileVersions(0, vup_file_info{}), 1);
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
