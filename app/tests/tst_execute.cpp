// Execute up to the credentials dialog: the ticks taken over, and the compatibility
// check's debug lines. Execute refused and whole updates are driven in tst_flow.
#include "app/mainwindow.h"
#include "launch/credentials.h"
#include "launch/dialogpassword.h"
#include "tests/support/logcapture.h"
#include "tests/support/modalwatcher.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

class TestExecute : public QObject
{
    Q_OBJECT

private slots:
    void ticksTakenOver();
    void extraVersionLines_data();
    void extraVersionLines();
};

void TestExecute::ticksTakenOver()
{
    MainWindow w;
    w.show();
    mw_Qid = CAM_QID_TK20;
    mw_CamInfo.ModelID = CAM_MODELID_QV_TK10;
    mw_VupFileInfo.DirPath = QStringLiteral("/fw");
    mw_VupFileInfo.cam_cpu = {QStringLiteral("main.bin"), QStringLiteral("V01.20"), 2, RMOCAM_FALSE};
    const QString shownBefore = w.findChild<QLabel*>(QStringLiteral("IP_ModelVer"))->text();
    // Ticked: cam_cpu, lens_fpga (no file: ticks are taken as they are), interface_eeprom.
    const int expected[kComponentCount] = {1, 0, 0, 0, 0, 0, 1, 0, 1};
    for (int i = 0; i < kComponentCount; ++i)
        w.findChild<QCheckBox*>(QLatin1String(kComponents[size_t(i)].checkBox))->setChecked(expected[i]);

    ModalWatcher watcher;
    vup_file_info seenByDialog;
    int dialogs = 0;
    watcher.onDialog = [&](QWidget* dialog) {
        if (qobject_cast<DialogPassword*>(dialog)) {
            ++dialogs;
            seenByDialog = DiaPass_FileInfo;
            static_cast<QDialog*>(dialog)->reject();
        }
        return true;
    };
    LogCapture log;
    w.findChild<QPushButton*>(QStringLiteral("VersionUp_Button"))->click();
    QCOMPARE(dialogs, 1);

    for (int i = 0; i < kComponentCount; ++i) {
        const Component& c = kComponents[size_t(i)];
        QCOMPARE((mw_VupFileInfo.*c.field).Select, expected[i]);
        QCOMPARE((seenByDialog.*c.field).Select, expected[i]);
        const QString line = QStringLiteral("■DEBUG■%1 %2").arg(QLatin1String(c.checkBox),
                                                                 QLatin1String(expected[i] ? "RMOCAM_TRUE" : "RMOCAM_FALSE"));
        QVERIFY2(log.contains(line), qPrintable(line));
    }
    QVERIFY(log.containsInOrder({"■DEBUG■MW_OpenPasswordDialog()", "■DEBUG■mw_CheckFileVer()\n1",
                                 "■DEBUG■mw_CheckBox()", "■DEBUG■diaPass_initializeVupFileInfo()",
                                 "■DEBUG■DIAPASS_SetInfo()"}));
    QCOMPARE(seenByDialog.DirPath, QStringLiteral("/fw"));
    QCOMPARE(seenByDialog.cam_cpu.FileName, QStringLiteral("main.bin"));
    QVERIFY(watcher.texts().isEmpty());
    // Back at the main window: the same camera, nothing inquired again.
    QCOMPARE(w.findChild<QLabel*>(QStringLiteral("IP_ModelVer"))->text(), shownBefore);
    QCOMPARE(mw_Qid, int(CAM_QID_TK20));
    QCOMPARE(mw_CamInfo.ModelID, int(CAM_MODELID_QV_TK10));
}

void TestExecute::extraVersionLines_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<bool>("extra");
    QTest::newRow("tk300 writes them") << int(CAM_MODELID_QV_TK300) << true;
    QTest::newRow("old tk15 s writes them") << int(CAM_MODELID_QV_OLD_TK15_S) << true;
    QTest::newRow("old tk15 h does not") << int(CAM_MODELID_QV_OLD_TK15_H) << false;
    QTest::newRow("tk10 does not") << int(CAM_MODELID_QV_TK10) << false;
}

void TestExecute::extraVersionLines()
{
    QFETCH(int, model);
    QFETCH(bool, extra);

    MainWindow w;
    mw_CamInfo.ModelID = model;
    const char* const versions[kComponentCount] = {"Vcam",  "Vnet",  "Vservo",  "Vif",   "Vfront",
                                                   "Vback", "Vlens", "Vcameep", "Vifeep"};
    for (int i = 0; i < kComponentCount; ++i)
        (mw_VupFileInfo.*kComponents[size_t(i)].field).Version = QLatin1String(versions[i]);

    LogCapture log;
    QCOMPARE(w.mw_CheckFileVer(), 1);
    QStringList expected{QStringLiteral("■DEBUG■mw_CheckFileVer()"), QString::number(model)};
    if (extra) // lens FPGA, interface CPU and camera EEPROM are left out
        expected << "\"Vcam\"" << "\"Vnet\"" << "\"Vservo\"" << "\"Vfront\"" << "\"Vback\"" << "\"Vifeep\"";
    QCOMPARE(log.lines(), expected);
}

QTEST_MAIN(TestExecute)
#include "tst_execute.moc"
