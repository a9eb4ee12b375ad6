// The widget-free parts of a run: plan, type codes, reset waits, reply judgement.
#include "camera/caminfo.h"
#include "update/sequencer.h"
#include "update/uploadplan.h"
#include "update/uploadrequest.h"

#include <QtTest>

namespace {

// "cam_cpu:1:3 servo_cpu:0:2": member, Select, Vupno; FileName is the member's name.
vup_file_info setFrom(const QString& spec)
{
    vup_file_info set;
    for (const QString& item : spec.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList f = item.split(QLatin1Char(':'));
        for (const Component& c : kComponents) {
            if (f[0] == QLatin1String(c.member))
                set.*c.field = {f[0], QStringLiteral("V01.00"), f[2].toInt(), f[1].toInt()};
        }
    }
    return set;
}

QStringList planNames(const sort_fileinfo& plan)
{
    QStringList names;
    for (int i = 0; i < plan.MaxFileNum; ++i)
        names << plan.files[std::size_t(i)].FileName;
    return names;
}

} // namespace

class TestUploadPlan : public QObject
{
    Q_OBJECT

private slots:
    void plan_data();
    void plan();
    void typeCode_data();
    void typeCode();
    void resetWait_data();
    void resetWait();
    void uploadReply_data();
    void uploadReply();
    void reinquiryReply_data();
    void reinquiryReply();
    void networkVersion_data();
    void networkVersion();
    void wireText_data();
    void wireText();
};

void TestUploadPlan::plan_data()
{
    QTest::addColumn<QString>("set");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("nothing ticked") << "cam_cpu:0:1 network_cpu:0:2" << 1 << QStringList{};
    QTest::newRow("lowest number first") << "cam_cpu:1:3 network_cpu:1:2 cam_eeprom:1:1" << 0
                                         << QStringList{"cam_eeprom", "network_cpu", "cam_cpu"};
    QTest::newRow("ties keep component order") << "servo_cpu:1:5 front_fpga:1:5 cam_cpu:1:9" << 0
                                               << QStringList{"servo_cpu", "front_fpga", "cam_cpu"};
    QTest::newRow("no number refuses, unsorted rest stays")
        << "cam_cpu:1:2 servo_cpu:1:0 lens_fpga:1:1" << 1 << QStringList{"cam_cpu"};
    QTest::newRow("unticked with number left out") << "cam_cpu:0:1 interface_eeprom:1:4" << 0
                                                   << QStringList{"interface_eeprom"};
    QTest::newRow("select other than 1 is not a tick") << "cam_cpu:2:1 servo_cpu:1:3" << 0
                                                      << QStringList{"servo_cpu"};
    QTest::newRow("numbers compared signed") << "cam_cpu:1:1 network_cpu:1:-1" << 0
                                             << QStringList{"network_cpu", "cam_cpu"};
    QTest::newRow("all nine reversed")
        << "cam_cpu:1:9 network_cpu:1:8 servo_cpu:1:7 interface_cpu:1:6 front_fpga:1:5 backend_fpga:1:4 "
           "lens_fpga:1:3 cam_eeprom:1:2 interface_eeprom:1:1"
        << 0
        << QStringList{"interface_eeprom", "cam_eeprom", "lens_fpga", "backend_fpga", "front_fpga",
                       "interface_cpu", "servo_cpu", "network_cpu", "cam_cpu"};
}

void TestUploadPlan::plan()
{
    QFETCH(QString, set);
    QFETCH(int, result);
    QFETCH(QStringList, order);
    sort_fileinfo plan;
    const int got = gatherUploadPlan(setFrom(set), plan);
    if (got == 0)
        sortUploadPlan(plan);
    QCOMPARE(got, result);
    QCOMPARE(planNames(plan), order);
    // A second gathering into a full plan must not run past its nine entries.
    if (plan.MaxFileNum == kComponentCount)
        QCOMPARE(gatherUploadPlan(setFrom(set), plan), 1);
    QCOMPARE(planFilePath(QStringLiteral("/Users/op/fw"), QStringLiteral("cam.bin")),
             QStringLiteral("/Users/op/fw//cam.bin"));
}

void TestUploadPlan::typeCode_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("code");  // "-" when the caller's value stays
    for (const auto& [name, code] : std::initializer_list<std::pair<const char*, const char*>>{
             {"cam.bin", "1"}, {"net.img", "3"}, {"c.eep", "4"}, {"a.sif", "0"}, {"a.scm", "1"}, {"a.spt", "2"},
             {"a.snw", "3"}, {"a.ffe", "5"}, {"a.fbe", "6"}, {"MAIN.BIN", "-"}, {"net.Img", "-"},
             {"fw.tar.gz", "-"}, {"in", "-"}, {"bin", "1"}})
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(code);
}

void TestUploadPlan::typeCode()
{
    QFETCH(QString, fileName);
    QFETCH(QString, code);
    QString type = QStringLiteral("-");
    QCOMPARE(fileTypeCode(fileExtension(fileName), &type), code != QLatin1String("-"));
    QCOMPARE(type, code);
}

void TestUploadPlan::resetWait_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("deadlineTick");  // sums of 100/seconds, in doubles
    QTest::newRow("img tk10") << "n.img" << int(CAM_MODELID_QV_TK10) << 500 << 500;
    QTest::newRow("img tkd7 s") << "n.img" << int(CAM_MODELID_QV_TKD7_S) << 1650 << 1650;
    QTest::newRow("img tkd7 h") << "n.img" << int(CAM_MODELID_QV_TKD7_H) << 1650 << 1650;
    QTest::newRow("img tk300") << "n.img" << int(CAM_MODELID_QV_TK300) << 1650 << 1650;
    QTest::newRow("eep tk300") << "c.eep" << int(CAM_MODELID_QV_TK300) << 300 << 301;
    QTest::newRow("eep tk10") << "c.eep" << int(CAM_MODELID_QV_TK10) << 375 << 376;
    QTest::newRow("eep new tk15 h") << "c.eep" << int(CAM_MODELID_QV_NEW_TK15_H) << 375 << 376;
    QTest::newRow("sif") << "a.sif" << int(CAM_MODELID_QV_OLD_TK20_S) << 3375 << 3376;
    QTest::newRow("spt") << "a.spt" << int(CAM_MODELID_QV_OLD_TK20_S) << 750 << 750;
    QTest::newRow("snw") << "a.snw" << int(CAM_MODELID_QV_OLD_TK20_S) << 1350 << 1350;
    QTest::newRow("bin") << "c.bin" << int(CAM_MODELID_QV_TK10) << 3600 << 3601;
    QTest::newRow("unknown gets the longest") << "fw.dat" << int(CAM_MODELID_QV_TK300) << 3600 << 3601;
    QTest::newRow("capitals are unknown") << "MAIN.BIN" << int(CAM_MODELID_QV_TK10) << 3600 << 3601;
}

void TestUploadPlan::resetWait()
{
    QFETCH(QString, fileName);
    QFETCH(int, model);
    QFETCH(int, seconds);
    QFETCH(int, deadlineTick);
    QCOMPARE(resetWaitTimeout(fileExtension(fileName), model), seconds);
    double progress = 0.0;
    ResetWaitTick tick{0, false};
    int ticks = 0;
    int last = 0;
    while (!tick.deadline && ticks < 10000) {
        tick = advanceResetWait(&progress, 100.0 / seconds);
        QVERIFY(tick.percent >= last);
        last = tick.percent;
        ++ticks;
    }
    QCOMPARE(ticks, deadlineTick);
    QCOMPARE(tick.percent, 100);
}

void TestUploadPlan::uploadReply_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("verdict");
    const int ok = int(UploadVerdict::Accepted), no = int(UploadVerdict::Refused), err = int(UploadVerdict::Failed);
    QTest::newRow("tkd7 marker") << 2 << false << QByteArray("<p>Currently resetting...</p>") << ok;
    QTest::newRow("tkd7 lower case") << 3 << false << QByteArray("currently resetting") << no;
    QTest::newRow("tkd7 other marker") << 1 << false << QByteArray("/cgi-bin/qv_top") << no;
    QTest::newRow("tk20 cgi-bin") << 5 << false << QByteArray("URL=/cgi-bin/qv_top") << ok;
    QTest::newRow("tk300 reset text only") << 4 << false << QByteArray("Currently resetting") << no;
    QTest::newRow("marker after a NUL") << 12 << false << QByteArray("x\0 cgi-bin", 10) << ok;
    QTest::newRow("error with marker") << 4 << true << QByteArray("cgi-bin") << err;
    QTest::newRow("no model") << 0 << false << QByteArray("cgi-bin Currently resetting") << no;
    QTest::newRow("empty body") << 8 << false << QByteArray() << no;
}

void TestUploadPlan::uploadReply()
{
    QFETCH(int, model);
    QFETCH(bool, failed);
    QFETCH(QByteArray, body);
    QFETCH(int, verdict);
    QCOMPARE(int(judgeUploadReply(model, failed, body)), verdict);
}

void TestUploadPlan::reinquiryReply_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("verdict");
    QTest::newRow("error") << 4 << "eep" << true << QByteArray("OID:QV-TK300") << int(ReinquiryVerdict::NoAnswer);
    QTest::newRow("still restarting") << 4 << "eep" << false << QByteArray("QID:BUSY") << int(ReinquiryVerdict::NotBack);
    QTest::newRow("QID not at start") << 4 << "eep" << false << QByteArray(" QID:") << int(ReinquiryVerdict::Back);
    QTest::newRow("back") << 7 << "bin" << false << QByteArray("OID:QV-TK20") << int(ReinquiryVerdict::Back);
    QTest::newRow("tkd7 img waits for version") << 2 << "img" << false << QByteArray("OID:QV-TK10")
                                                << int(ReinquiryVerdict::LeftToCheck);
    QTest::newRow("tkd7 bin") << 3 << "bin" << false << QByteArray("OID:QV-TK10") << int(ReinquiryVerdict::Back);
    QTest::newRow("tk300 img") << 4 << "img" << false << QByteArray("OID:QV-TK300") << int(ReinquiryVerdict::Back);
    QTest::newRow("tkd7 img restarting") << 1 << "img" << false << QByteArray("QID:") << int(ReinquiryVerdict::NotBack);
}

void TestUploadPlan::reinquiryReply()
{
    QFETCH(int, model);
    QFETCH(QString, extension);
    QFETCH(bool, failed);
    QFETCH(QByteArray, body);
    QFETCH(int, verdict);
    QCOMPARE(int(judgeReinquiryReply(model, extension, failed, body)), verdict);
}

void TestUploadPlan::networkVersion_data()
{
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("matches");
    QTest::newRow("equal") << false << QByteArray("qSV3 network V02.11abcd") << true;
    QTest::newRow("other version") << false << QByteArray("qSV3 network V02.10abcd") << false;
    QTest::newRow("other digit") << false << QByteArray("qSV2 network V02.11abcd") << false;
    QTest::newRow("upper case prefix") << false << QByteArray("QSV3 network V02.11abcd") << false;
    QTest::newRow("error") << true << QByteArray("qSV3 network V02.11abcd") << false;
    QTest::newRow("cut at NUL") << false << QByteArray("qSV3\0 net V02.11abcd", 20) << false;
    QTest::newRow("exactly ten after prefix") << false << QByteArray("qSV3V02.11wxyz") << true;
}

void TestUploadPlan::networkVersion()
{
    QFETCH(bool, failed);
    QFETCH(QByteArray, body);
    QFETCH(bool, matches);
    QCOMPARE(networkVersionMatches(failed, body, QStringLiteral("V02.11")), matches);
}

void TestUploadPlan::wireText_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("fileName");
    QTest::newRow("doubled join") << "/Users/op/fw//main.img" << QByteArray("\\Users\\op\\fw\\\\main.img");
    QTest::newRow("latin-1 kept, others one ? each")
        << QString::fromUtf8("/d/\u00f1\u20ac/\U0001F600x//a.bin") << QByteArray("\\d\\\xf1?\\?x\\\\a.bin");
    QTest::newRow("backslash stays") << "C:\\fw//a.bin" << QByteArray("C:\\fw\\\\a.bin");
}

void TestUploadPlan::wireText()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, fileName);
    QCOMPARE(uploadFileName(path), fileName);
}

QTEST_APPLESS_MAIN(TestUploadPlan)
#include "tst_uploadplan.moc"
