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

struct Reply { char kind; int model; QString extension; bool failed; QByteArray body; int verdict; };
// code: "-" for none, when the caller's value stays; deadlineTick: sums of 100/seconds, in doubles.
struct Wait { QString fileName; int model; QString code; int seconds, deadlineTick; };

} // namespace

Q_DECLARE_METATYPE(Reply)
Q_DECLARE_METATYPE(Wait)

class TestUploadPlan : public QObject
{
    Q_OBJECT

private slots:
    void plan_data()
    {
        QTest::addColumn<QString>("set");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("order");
        const auto row = [](const char* name, const char* set, int result, const char* order) {
            QTest::newRow(name) << QString::fromLatin1(set) << result << QString::fromLatin1(order);
        };
        row("nothing ticked", "cam_cpu:0:1 network_cpu:0:2", 1, "");
        row("lowest number first", "cam_cpu:1:3 network_cpu:1:2 cam_eeprom:1:1", 0, "cam_eeprom network_cpu cam_cpu");
        row("ties keep component order", "servo_cpu:1:5 front_fpga:1:5 cam_cpu:1:9", 0, "servo_cpu front_fpga cam_cpu");
        row("no number refuses, unsorted rest stays", "cam_cpu:1:2 servo_cpu:1:0 lens_fpga:1:1", 1, "cam_cpu");
        row("unticked with number left out", "cam_cpu:0:1 interface_eeprom:1:4", 0, "interface_eeprom");
        row("select other than 1 is not a tick", "cam_cpu:2:1 servo_cpu:1:3", 0, "servo_cpu");
        row("numbers compared signed", "cam_cpu:1:1 network_cpu:1:-1", 0, "network_cpu cam_cpu");
        row("all nine reversed", "cam_cpu:1:9 network_cpu:1:8 servo_cpu:1:7 interface_cpu:1:6 front_fpga:1:5 backend_fpga:1:4 "
            "lens_fpga:1:3 cam_eeprom:1:2 interface_eeprom:1:1",
            0, "interface_eeprom cam_eeprom lens_fpga backend_fpga front_fpga interface_cpu servo_cpu network_cpu cam_cpu");
    }

    void plan()
    {
        QFETCH(QString, set);
        QFETCH(int, result);
        QFETCH(QString, order);
        sort_fileinfo plan;
        const int got = gatherUploadPlan(setFrom(set), plan);
        if (got == 0)
            sortUploadPlan(plan);
        QCOMPARE(got, result);
        QStringList names;
        for (int i = 0; i < plan.MaxFileNum; ++i)
            names << plan.files[std::size_t(i)].FileName;
        QCOMPARE(names.join(u' '), order);
        // A second gathering into a full plan must not run past its nine entries.
        if (plan.MaxFileNum == kComponentCount)
            QCOMPARE(gatherUploadPlan(setFrom(set), plan), 1);
    }

    // The extension is the name's last three characters, matched exactly.
    void byExtension_data()
    {
        QTest::addColumn<Wait>("w");
        const auto row = [](const char* name, const char* file, int model, const char* code, int seconds, int tick) {
            QTest::newRow(name) << Wait{QString::fromLatin1(file), model, QString::fromLatin1(code), seconds, tick};
        };
        row("img tk10", "n.img", CAM_MODELID_QV_TK10, "3", 500, 500);
        row("img tkd7 s", "n.img", CAM_MODELID_QV_TKD7_S, "3", 1650, 1650);
        row("img tk300", "n.img", CAM_MODELID_QV_TK300, "3", 1650, 1650);
        row("eep tk300", "c.eep", CAM_MODELID_QV_TK300, "4", 300, 301);
        row("eep tk10", "c.eep", CAM_MODELID_QV_TK10, "4", 375, 376);
        row("sif", "a.sif", CAM_MODELID_QV_OLD_TK20_S, "0", 3375, 3376);
        row("spt", "a.spt", CAM_MODELID_QV_OLD_TK20_S, "2", 750, 750);
        row("snw", "a.snw", CAM_MODELID_QV_OLD_TK20_S, "3", 1350, 1350);
        row("fbe", "a.fbe", CAM_MODELID_QV_OLD_TK20_S, "6", 3600, 3601);
        row("bin, nothing before", "bin", CAM_MODELID_QV_TK10, "1", 3600, 3601);
        row("unknown gets the longest", "fw.dat", CAM_MODELID_QV_TK300, "-", 3600, 3601);
        row("capitals are unknown", "MAIN.BIN", CAM_MODELID_QV_TK10, "-", 3600, 3601);
        row("last three only", "fw.tar.gz", CAM_MODELID_QV_TK10, "-", 3600, 3601);
        row("shorter name", "in", CAM_MODELID_QV_TK10, "-", 3600, 3601);
    }

    void byExtension()
    {
        QFETCH(Wait, w);
        QString type = QStringLiteral("-");
        QCOMPARE(fileTypeCode(fileExtension(w.fileName), &type), w.code != QLatin1String("-"));
        QCOMPARE(type, w.code);
        QCOMPARE(resetWaitTimeout(fileExtension(w.fileName), w.model), w.seconds);
        double progress = 0.0;
        ResetWaitTick tick{0, false};
        int ticks = 0;
        for (int last = 0; !tick.deadline && ticks < 10000; ++ticks, last = tick.percent) {
            tick = advanceResetWait(&progress, 100.0 / w.seconds);
            QVERIFY(tick.percent >= last);
        }
        QCOMPARE(ticks, w.deadlineTick);
        QCOMPARE(tick.percent, 100);
    }

    // Upload replies (U), re-inquiry replies (R), the network version check against "V02.11" (V, 1
    // when it matches). Each family's plain answers are judged in every run against the simulator.
    void judge_data()
    {
        QTest::addColumn<Reply>("r");
        const int ok = int(UploadVerdict::Accepted), no = int(UploadVerdict::Refused), err = int(UploadVerdict::Failed);
        const auto row = [](const char* name, char kind, int model, const char* ext, bool failed, QByteArray body, int v) {
            QTest::newRow(name) << Reply{kind, model, QString::fromLatin1(ext), failed, body, v};
        };
        row("tkd7 marker in lower case", 'U', 3, "bin", false, "currently resetting", no);
        row("tkd7 other family's marker", 'U', 1, "bin", false, "/cgi-bin/qv_top", no);
        row("tk300 reset text only", 'U', 4, "eep", false, "Currently resetting", no);
        row("marker after a NUL", 'U', 12, "bin", false, QByteArray("x\0 cgi-bin", 10), ok);
        row("error with marker", 'U', 4, "eep", true, "cgi-bin", err);
        row("no model", 'U', 0, "bin", false, "cgi-bin Currently resetting", no);
        row("re-inquiry error", 'R', 4, "eep", true, "OID:QV-TK300", int(ReinquiryVerdict::NoAnswer));
        row("still restarting", 'R', 4, "eep", false, "QID:BUSY", int(ReinquiryVerdict::NotBack));
        row("QID not at start", 'R', 4, "eep", false, " QID:", int(ReinquiryVerdict::Back));
        row("tk300 img back", 'R', 4, "img", false, "OID:QV-TK300", int(ReinquiryVerdict::Back));
        row("version other digit", 'V', 2, "img", false, "qSV2 network V02.11abcd", 0);
        row("version upper-case prefix", 'V', 2, "img", false, "QSV3 network V02.11abcd", 0);
        row("version error", 'V', 2, "img", true, "qSV3 network V02.11abcd", 0);
        row("version cut at NUL", 'V', 2, "img", false, QByteArray("qSV3\0 net V02.11abcd", 20), 0);
    }

    void judge()
    {
        QFETCH(Reply, r);
        if (r.kind == 'U')
            QCOMPARE(int(judgeUploadReply(r.model, r.failed, r.body)), r.verdict);
        else if (r.kind == 'R')
            QCOMPARE(int(judgeReinquiryReply(r.model, r.extension, r.failed, r.body)), r.verdict);
        else
            QCOMPARE(int(networkVersionMatches(r.failed, r.body, QStringLiteral("V02.11"))), r.verdict);
    }
};

QTEST_APPLESS_MAIN(TestUploadPlan)
#include "tst_uploadplan.moc"
