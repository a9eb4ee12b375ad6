#include "app/mainwindow.h"
#include "launch/credentials.h"
#include "launch/dialogpassword.h"
#include "tests/support/logcapture.h"
#include "tests/support/modalwatcher.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {

QCheckBox* box(MainWindow& w, const Component& c) { return w.findChild<QCheckBox*>(QLatin1String(c.checkBox)); }
QPushButton* executeButton(MainWindow& w) { return w.findChild<QPushButton*>(QStringLiteral("VersionUp_Button")); }

// A camera and a folder as Connect and folder selection leave them.
void connectAndSelect(int model, const vup_file_info& set)
{
    mw_Qid = model == CAM_MODELID_QV_TK300 ? CAM_QID_TK300 : CAM_QID_TK20;
    mw_CamInfo.ModelID = model;
    mw_VupFileInfo = set;
}

vup_file_info folderSet(const char* backendVersion)
{
    vup_file_info set;
    set.DirPath = QStringLiteral("/fw");
    set.Model = CAM_MODELID_QV_TK10;
    set.cam_cpu = {QStringLiteral("main.bin"), QStringLiteral("V01.20"), 2, RMOCAM_FALSE};
    set.backend_fpga = {QStringLiteral("back.bin"), QString::fromLatin1(backendVersion), 1, RMOCAM_FALSE};
    return set;
}

} // namespace

class TestExecute : public QObject
{
    Q_OBJECT

private slots:
    void refused_data();
    void refused();
    void ticksCopiedAndDialogGetsCopy();
    void extraVersionLines_data();
    void extraVersionLines();
};

void TestExecute::refused_data()
{
    QTest::addColumn<int>("qid");
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("dirPath");
    QTest::addColumn<QString>("backend");
    QTest::addColumn<QStringList>("messages");

    const QStringList none;
    const QStringList camFileNone{QStringLiteral("MW_OpenPasswordDialog CamFileNone.")};
    QTest::newRow("before connect") << 0 << 0 << "/fw" << "V01.10" << none;
    QTest::newRow("before connect, model left") << 0 << 1 << "/fw" << "V01.10" << none;
    QTest::newRow("no folder") << 1 << 1 << "" << "V01.10" << camFileNone;
    QTest::newRow("no model identified") << 2 << 0 << "/fw" << "V01.10" << camFileNone;
    QTest::newRow("version does not suit") << 1 << 1 << "/fw" << "V01.30" << camFileNone;
}

void TestExecute::refused()
{
    QFETCH(int, qid);
    QFETCH(int, model);
    QFETCH(QString, dirPath);
    QFETCH(QString, backend);
    QFETCH(QStringList, messages);

    MainWindow w;
    w.show();
    vup_file_info set = folderSet("");
    set.DirPath = dirPath;
    set.backend_fpga.Version = backend;
    mw_VupFileInfo = set;
    mw_Qid = qid;
    mw_CamInfo.ModelID = model;
    box(w, kComponents[0])->setChecked(true);

    ModalWatcher watcher;
    bool credentialsOpened = false;
    watcher.onDialog = [&](QWidget* dialog) -> bool {
        credentialsOpened = credentialsOpened || qobject_cast<DialogPassword*>(dialog);
        static_cast<QDialog*>(dialog)->reject();
        return true;
    };
    executeButton(w)->click();

    QCOMPARE(watcher.texts(), messages);
    for (const ModalWatcher::Message& m : watcher.messages()) {
        QCOMPARE(m.parentName, QStringLiteral("MainWindow"));
        QVERIFY(m.title.isEmpty());
    }
    QVERIFY(!credentialsOpened);
    // Nothing is taken over from the boxes by a refused Execute.
    QCOMPARE(mw_VupFileInfo.cam_cpu.Select, RMOCAM_FALSE);
}

void TestExecute::ticksCopiedAndDialogGetsCopy()
{
    MainWindow w;
    w.show();
    connectAndSelect(CAM_MODELID_QV_TK10, folderSet("V01.20"));
    const QString shownBefore = w.findChild<QLabel*>(QStringLiteral("IP_ModelVer"))->text();
    // Ticked: cam_cpu, lens_fpga (no file: ticks are taken as they are), interface_eeprom.
    box(w, kComponents[0])->setChecked(true);
    box(w, kComponents[6])->setChecked(true);
    box(w, kComponents[8])->setChecked(true);

    ModalWatcher watcher;
    vup_file_info seenByDialog;
    int dialogs = 0;
    bool copyKept = false;
    watcher.onDialog = [&](QWidget* dialog) -> bool {
        if (qobject_cast<DialogPassword*>(dialog)) {
            ++dialogs;
            seenByDialog = DiaPass_FileInfo;
            // The main window's set changes after the hand-over must not reach the dialog.
            mw_VupFileInfo.cam_cpu.FileName = QStringLiteral("changed.bin");
            copyKept = DiaPass_FileInfo.cam_cpu.FileName == QStringLiteral("main.bin");
            static_cast<QDialog*>(dialog)->reject();
        }
        return true;
    };
    LogCapture log;
    executeButton(w)->click();
    QTRY_COMPARE_WITH_TIMEOUT(dialogs, 1, 2000);
    QVERIFY(copyKept);

    const int expected[kComponentCount] = {1, 0, 0, 0, 0, 0, 1, 0, 1};
    for (int i = 0; i < kComponentCount; ++i) {
        const Component& c = kComponents[static_cast<size_t>(i)];
        QCOMPARE((mw_VupFileInfo.*c.field).Select, expected[i]);
        QCOMPARE((seenByDialog.*c.field).Select, expected[i]);
        const QString line = QStringLiteral("■DEBUG■%1 %2").arg(QLatin1String(c.checkBox),
                                                                 QLatin1String(expected[i] ? "RMOCAM_TRUE" : "RMOCAM_FALSE"));
        QVERIFY2(log.contains(line), qPrintable(line));
    }
    QVERIFY(log.containsInOrder({QStringLiteral("■DEBUG■MW_OpenPasswordDialog()"), QStringLiteral("■DEBUG■mw_CheckFileVer()"),
                                 QStringLiteral("1"), QStringLiteral("■DEBUG■mw_CheckBox()"),
                                 QStringLiteral("■DEBUG■diaPass_initializeVupFileInfo()"),
                                 QStringLiteral("■DEBUG■DIAPASS_SetInfo()")}));
    QCOMPARE(seenByDialog.DirPath, QStringLiteral("/fw"));
    QVERIFY(watcher.texts().isEmpty());
    // Back at the main window: the same camera, nothing inquired again.
    QCOMPARE(w.findChild<QLabel*>(QStringLiteral("IP_ModelVer"))->text(), shownBefore);
    QCOMPARE(mw_Qid, int(CAM_QID_TK20));
    QCOMPARE(mw_CamInfo.ModelID, int(CAM_MODELID_QV_TK10));
    QVERIFY(box(w, kComponents[6])->isChecked());
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
    vup_file_info set;
    set.cam_cpu.Version = QStringLiteral("Vcam");
    set.network_cpu.Version = QStringLiteral("Vnet");
    set.servo_cpu.Version = QStringLiteral("Vservo");
    set.interface_cpu.Version = QStringLiteral("Vif");
    set.front_fpga.Version = QStringLiteral("Vfront");
    set.backend_fpga.Version = QStringLiteral("Vback");
    set.interface_eeprom.Version = QStringLiteral("Vifeep");
    connectAndSelect(model, set);

    LogCapture log;
    QCOMPARE(w.mw_CheckFileVer(), 1);
    const QStringList six{QStringLiteral("\"Vcam\""), QStringLiteral("\"Vnet\""), QStringLiteral("\"Vservo\""),
                          QStringLiteral("\"Vfront\""), QStringLiteral("\"Vback\""), QStringLiteral("\"Vifeep\"")};
    QStringList expected{QStringLiteral("■DEBUG■mw_CheckFileVer()"), QString::number(model)};
    if (extra)
        expected += six;
    QCOMPARE(log.lines(), expected);
}

QTEST_MAIN(TestExecute)
#include "tst_execute.moc"
