// The widget-free parts of a run: plan, type codes, reset waits, reply judgement.
#include "camera/caminfo.h"
#include "update/sequencer.h"
#include "update/uploadplan.h"

#include <QtTest>

namespace {

// "cam_cpu:1:3 servo_cpu:0:2": member, Select, Vupno; FileName is the member's name.
vup_file_info setFrom(const QString& description)
{
    vup_file_info set;
    for (const QString& item : description.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
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
    void plan_data()
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

    void plan()
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
    }

    void filePath()
    {
        QCOMPARE(planFilePath(QStringLiteral("/Users/op/fw"), QStringLiteral("cam.bin")),
                 QStringLiteral("/Users/op/fw//cam.bin"));
    }

    void typeCode_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("code");  // "-" when the caller's value stays
        // The extension is the name's last three characters, matched exactly.
        for (const auto& [name, code] : std::initializer_list<std::pair<const char*, const char*>>{
                 {"MAIN.BIN", "-"}, {"net.Img", "-"}, {"fw.tar.gz", "-"}, {"in", "-"}, {"bin", "1"}, {"a.fbe", "6"}})
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(code);
    }

    void typeCode()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, code);
        QString type = QStringLiteral("-");
        QCOMPARE(fileTypeCode(fileExtension(fileName), &type), code != QLatin1String("-"));
        QCOMPARE(type, code);
    }

    void resetWait_data()
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

    void resetWait()
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

    // How the camera's answers are judged: upload replies (U), re-inquiry replies (R) and the
    // network version check against "V02.11" (V, 1 when it matches).
    void judge_data()
    {
        QTest::addColumn<char>("kind");
        QTest::addColumn<int>("model");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("verdict");
        const int ok = int(UploadVerdict::Accepted), no = int(UploadVerdict::Refused), err = int(UploadVerdict::Failed);
        const auto row = [](const char* name, char kind, int model, const char* ext, bool failed, QByteArray body, int v) {
            QTest::newRow(name) << kind << model << QString::fromLatin1(ext) << failed << body << v;
        };
        row("tkd7 marker", 'U', 2, "img", false, "<p>Currently resetting...</p>", ok);
        row("tkd7 marker in lower case", 'U', 3, "bin", false, "currently resetting", no);
        row("tkd7 other family's marker", 'U', 1, "bin", false, "/cgi-bin/qv_top", no);
        row("tk20 cgi-bin", 'U', 5, "bin", false, "URL=/cgi-bin/qv_top", ok);
        row("tk300 reset text only", 'U', 4, "eep", false, "Currently resetting", no);
        row("marker after a NUL", 'U', 12, "bin", false, QByteArray("x\0 cgi-bin", 10), ok);
        row("error with marker", 'U', 4, "eep", true, "cgi-bin", err);
        row("no model", 'U', 0, "bin", false, "cgi-bin Currently resetting", no);
        row("re-inquiry error", 'R', 4, "eep", true, "OID:QV-TK300", int(ReinquiryVerdict::NoAnswer));
        row("still restarting", 'R', 4, "eep", false, "QID:BUSY", int(ReinquiryVerdict::NotBack));
        row("QID not at start", 'R', 4, "eep", false, " QID:", int(ReinquiryVerdict::Back));
        row("tkd7 img left to version", 'R', 2, "img", false, "OID:QV-TK10", int(ReinquiryVerdict::LeftToCheck));
        row("tkd7 bin back", 'R', 3, "bin", false, "OID:QV-TK10", int(ReinquiryVerdict::Back));
        row("tk300 img back", 'R', 4, "img", false, "OID:QV-TK300", int(ReinquiryVerdict::Back));
        row("version equal", 'V', 2, "img", false, "qSV3 network V02.11abcd", 1);
        row("version other", 'V', 2, "img", false, "qSV3 network V02.10abcd", 0);
        row("version other digit", 'V', 2, "img", false, "qSV2 network V02.11abcd", 0);
        row("version upper-case prefix", 'V', 2, "img", false, "QSV3 network V02.11abcd", 0);
        row("version error", 'V', 2, "img", true, "qSV3 network V02.11abcd", 0);
        row("version cut at NUL", 'V', 2, "img", false, QByteArray("qSV3\0 net V02.11abcd", 20), 0);
    }

    void judge()
    {
        QFETCH(char, kind);
        QFETCH(int, model);
        QFETCH(QString, extension);
        QFETCH(bool, failed);
        QFETCH(QByteArray, body);
        QFETCH(int, verdict);
        if (kind == 'U')
            QCOMPARE(int(judgeUploadReply(model, failed, body)), verdict);
        else if (kind == 'R')
            QCOMPARE(int(judgeReinquiryReply(model, extension, failed, body)), verdict);
        else
            QCOMPARE(int(networkVersionMatches(failed, body, QStringLiteral("V02.11"))), verdict);
    }
};

QTEST_APPLESS_MAIN(TestUploadPlan)
#include "tst_uploadplan.moc"
