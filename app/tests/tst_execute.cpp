// Execute up to the credentials dialog: the ticks taken over, and the compatibility
// check's debug lines. Execute refused and whole updates are driven in tst_faults.
#include "app/mainwindow.h"
#include "launch/credentials.h"
#include "tests/support/logcapture.h"
#include "tests/support/operator.h"

#include <QtTest>

class TestExecute : public QObject
{
    Q_OBJECT

private slots:
    void ticksTakenOver()
    {
        MainWindow w;
        mw_Qid = CAM_QID_TK20;
        mw_CamInfo.ModelID = CAM_MODELID_QV_TK10;
        mw_VupFileInfo.DirPath = QStringLiteral("/fw");
        mw_VupFileInfo.cam_cpu = {QStringLiteral("main.bin"), QStringLiteral("V01.20"), 2, RMOCAM_FALSE};
        // Ticked: cam_cpu, lens_fpga (no file: ticks are taken as they are), interface_eeprom.
        const int ticked[kComponentCount] = {1, 0, 0, 0, 0, 0, 1, 0, 1};
        for (int i = 0; i < kComponentCount; ++i)
            child<QCheckBox>(w, kComponents[size_t(i)].checkBox)->setChecked(ticked[i]);
        const QStringList before = shownState(w);

        ModalWatcher watcher;
        vup_file_info seenByDialog;
        int dialogs = 0;
        watcher.onDialog = [&](QWidget* dialog) {
            if (qobject_cast<DialogPassword*>(dialog)) {
                ++dialogs;
                seenByDialog = DiaPass_FileInfo;
                static_cast<QDialog*>(dialog)->reject();
            }
        };
        LogCapture log;
        child<QPushButton>(w, "VersionUp_Button")->click();
        QCOMPARE(dialogs, 1);
        QVERIFY(watcher.texts().isEmpty());
        for (int i = 0; i < kComponentCount; ++i) {
            const Component& c = kComponents[size_t(i)];
            QCOMPARE((mw_VupFileInfo.*c.field).Select, ticked[i]);
            QCOMPARE((seenByDialog.*c.field).Select, ticked[i]);
            const QString line = QStringLiteral("■DEBUG■%1 RMOCAM_%2").arg(c.checkBox, ticked[i] ? "TRUE" : "FALSE");
            QVERIFY2(log.contains(line), qPrintable(line));
        }
        QVERIFY(log.containsInOrder({"■DEBUG■MW_OpenPasswordDialog()", "■DEBUG■mw_CheckFileVer()\n1",
                                     "■DEBUG■mw_CheckBox()", "■DEBUG■diaPass_initializeVupFileInfo()",
                                     "■DEBUG■DIAPASS_SetInfo()"}));
        QVERIFY(seenByDialog.DirPath == u"/fw" && seenByDialog.cam_cpu.FileName == u"main.bin");
        // Back at the main window: the same camera, nothing inquired again.
        QCOMPARE(shownState(w), before);
        QVERIFY(mw_Qid == CAM_QID_TK20 && mw_CamInfo.ModelID == CAM_MODELID_QV_TK10);
    }

    void extraVersionLines_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<bool>("extra");
        QTest::newRow("tk300 writes them") << int(CAM_MODELID_QV_TK300) << true;
        QTest::newRow("old tk15 s writes them") << int(CAM_MODELID_QV_OLD_TK15_S) << true;
        QTest::newRow("old tk15 h does not") << int(CAM_MODELID_QV_OLD_TK15_H) << false;
        QTest::newRow("tk10 does not") << int(CAM_MODELID_QV_TK10) << false;
    }

    void extraVersionLines()
    {
        QFETCH(int, model);
        QFETCH(bool, extra);
        MainWindow w;
        mw_CamInfo.ModelID = model;
        const QStringList versions{"Vcam", "Vnet", "Vservo", "Vif", "Vfront", "Vback", "Vlens", "Vcameep", "Vifeep"};
        for (int i = 0; i < kComponentCount; ++i)
            (mw_VupFileInfo.*kComponents[size_t(i)].field).Version = versions[i];
        LogCapture log;
        QCOMPARE(w.mw_CheckFileVer(), 1);
        QStringList expected{QStringLiteral("■DEBUG■mw_CheckFileVer()"), QString::number(model)};
        if (extra)  // lens FPGA, interface CPU and camera EEPROM are left out
            expected << "\"Vcam\"" << "\"Vnet\"" << "\"Vservo\"" << "\"Vfront\"" << "\"Vback\"" << "\"Vifeep\"";
        QCOMPARE(log.lines(), expected);
    }
};

QTEST_MAIN(TestExecute)
#include "tst_execute.moc"
