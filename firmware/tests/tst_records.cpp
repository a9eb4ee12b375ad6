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
};

QTEST_APPLESS_MAIN(TestRecords)
#include "tst_records.moc"
