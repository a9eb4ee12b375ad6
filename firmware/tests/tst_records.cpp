#include "firmware/records.h"

#include <QtTest>

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    // A reset leaves nothing of a set behind, in any of the nine components: a stale name,
    // version, order or tick would reach the next run.
    void resetEmptiesEverything()
    {
        vup_file_info set;
        set.DirPath = QStringLiteral("/tmp/fw");
        set.Base64 = QStringLiteral("YWRtaW46cGFzcw==");
        set.CamIPAddress = QStringLiteral("127.0.0.1:8080");
        set.Model = 7;
        for (const Component& c : kComponents)
            set.*c.field = {QLatin1String(c.member), QStringLiteral("V01.10"), 3, RMOCAM_TRUE};
        resetVupFileInfo(set);
        QVERIFY(set.DirPath.isEmpty() && set.Base64.isEmpty() && set.CamIPAddress.isEmpty() && set.Model == 0);
        for (const Component& c : kComponents) {
            const file_info& f = set.*c.field;
            QVERIFY2(f.FileName.isEmpty() && f.Version.isEmpty() && f.Vupno == 0 && f.Select == RMOCAM_FALSE, c.member);
        }
    }

    // The run and the credentials dialog keep copies of the main window's set: resetting
    // the source must not empty a copy taken before.
    void copyOutlivesReset()
    {
        vup_file_info set;
        set.DirPath = QStringLiteral("/tmp/fw");
        set.servo_cpu = {QStringLiteral("s.bin"), QStringLiteral("V01.10"), 2, RMOCAM_TRUE};
        const vup_file_info copy = set;
        resetVupFileInfo(set);
        QCOMPARE(copy.DirPath, QStringLiteral("/tmp/fw"));
        QVERIFY(copy.servo_cpu.FileName == QStringLiteral("s.bin") && copy.servo_cpu.Vupno == 2 && copy.servo_cpu.Select == RMOCAM_TRUE);
    }
};

QTEST_APPLESS_MAIN(TestRecords)
#include "tst_records.moc"
