#include "app/mainwindow.h"
#include "tests/support/operator.h"

#include <QtTest>

namespace {

const char* const kCameraValueLabels[] = {
    "IP_ModelVer", "IP_CPU_CamMainVer", "IP_CPU_NetworkSoftVer", "IP_CPU_ServoVer", "IP_CPU_InterfaceVer",
    "IP_FPGA_FrontVer", "IP_FPGA_BackendVer", "IP_FPGA_LensVer", "IP_EEPROM_CamMainVer", "IP_EEPROM_InterfaceVer",
};

const char* const kFirmwareRows[] = {
    "VERUP_CUP_CamMain", "VERUP_CPU_NetworkSoft", "VERUP_CPU_Servo",
    "VERUP_CPU_Interface", "VERUP_FPGA_Front", "VERUP_FPGA_Backend",
    "VERUP_FPGA_Lens", "VERUP_EEPROM_CamMain", "VERUP_EEPROM_Interface",
};

const QColor kGrey(0x80, 0x80, 0x80);

QColor textColour(const MainWindow& w, const char* name, QPalette::ColorGroup group = QPalette::Active)
{
    return child<QWidget>(w, name)->palette().color(group, QPalette::WindowText);
}

QWidget* row(const MainWindow& w, const char* base, const char* part)
{
    return child<QWidget>(w, qPrintable(QLatin1String(base) + QLatin1String(part)));
}

// Puts something other than the cleared state everywhere the reset must reach.
void dirtyEverything(MainWindow& w)
{
    for (const char* name : kCameraValueLabels)
        child<QLabel>(w, name)->setText(QStringLiteral("V09.99"));
    for (const char* base : kFirmwareRows) {
        static_cast<QLabel*>(row(w, base, "Name"))->setText(QStringLiteral("file.bin"));
        static_cast<QLabel*>(row(w, base, "Ver"))->setText(QStringLiteral("V01.00"));
        static_cast<QCheckBox*>(row(w, base, "_checkBox"))->setChecked(true);
    }
    for (const char* name : {"VerUpFile", "VerUpFileInfoFrame"}) {
        QPalette p = child<QWidget>(w, name)->palette();
        p.setBrush(QPalette::All, QPalette::WindowText, QBrush(Qt::black));
        child<QWidget>(w, name)->setPalette(p);
    }
    mw_Qid = CAM_QID_TK20;
    w.mw_ReqCamIndex = 11;
    mw_CamInfo.ModelID = CAM_MODELID_QV_NEW_TK20_S;
    mw_CamInfo.Ver_CameraCPU = QStringLiteral("V03.60");
    mw_CamInfo.Ver_CameraEEPROM = QStringLiteral("V01.00");
    mw_VupFileInfo.DirPath = QStringLiteral("/tmp/fw");
    mw_VupFileInfo.CamIPAddress = QStringLiteral("127.0.0.1");
    mw_VupFileInfo.Model = CAM_MODELID_QV_NEW_TK20_S;
    mw_VupFileInfo.lens_fpga = {QStringLiteral("lens.ffe"), QStringLiteral("V01.00"), 4, 1};
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void fixedWindow();
    void texts_data();
    void texts();
    void cleared_data();
    void cleared();
};

void TestMainWindow::fixedWindow()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.windowTitle(), QStringLiteral("Kelvora"));
    QCOMPARE(w.size(), QSize(800, 600));
    QCOMPARE(w.minimumSize(), QSize(800, 600));
    QCOMPARE(w.maximumSize(), QSize(800, 600));
    w.resize(1024, 768);
    QCOMPARE(w.size(), QSize(800, 600));
    QCOMPARE(w.font().family(), QStringLiteral("Verdana"));
    QCOMPARE(w.font().pointSize(), 10);
    QCOMPARE(child<QWidget>(w, "VersionUp_Button")->geometry(), QRect(640, 530, 114, 32));
    QCOMPARE(child<QWidget>(w, "VerUpFileInfoFrame")->geometry(), QRect(40, 310, 731, 221));
}

void TestMainWindow::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("ideographic space") << "label" << QStringLiteral("Camera\u3000Information");
    QTest::newRow("connect") << "IPAddressButton" << "Connect";
    QTest::newRow("folder caption") << "VerUpFile" << "Select the firmware folder";
    QTest::newRow("fpga trailing blanks") << "IP_FPGA" << "FPGA  ";
    QTest::newRow("eeprom trailing blanks") << "IP_EEPROM" << "eeprom  ";
    QTest::newRow("firmware fpga blank") << "VERUP_FPGA" << "FPGA ";
    QTest::newRow("firmware cpu blank") << "VERUP_CPU_SOFT" << "CPU Software ";
    QTest::newRow("camera cpu no blank") << "IP_VUP" << "CPU Software";
    QTest::newRow("firmware eeprom no blank") << "VERUP_EEPROM" << "eeprom";
    QTest::newRow("servo") << "VERUP_CPU_Servo" << "Servo(Pan/Tilt) :";
}

void TestMainWindow::texts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    MainWindow w;
    QLabel* label = w.findChild<QLabel*>(name);
    QAbstractButton* button = w.findChild<QAbstractButton*>(name);
    QVERIFY2(label || button, qPrintable(name));
    QCOMPARE(label ? label->text() : button->text(), text);
}

void TestMainWindow::cleared_data()
{
    QTest::addColumn<bool>("reset");
    QTest::newRow("new window, records left over") << false;
    QTest::newRow("reset after use") << true;
}

void TestMainWindow::cleared()
{
    QFETCH(bool, reset);
    mw_Qid = CAM_QID_TK300;
    mw_VupFileInfo.DirPath = QStringLiteral("/left/over");
    MainWindow w;
    const QString folder = reset ? QStringLiteral("/some/folder") : QString();
    if (reset) {
        child<QLineEdit>(w, "VerUpFileWriteSpace")->setText(folder);
        child<QLineEdit>(w, "IPAddressWriteSpace")->setText(QStringLiteral("127.0.0.1"));
        dirtyEverything(w);
        w.mw_initializeAllCrear();
    }

    for (const char* name : kCameraValueLabels)
        QCOMPARE(child<QLabel>(w, name)->text(), QStringLiteral("----"));
    for (const char* base : kFirmwareRows) {
        QCOMPARE(static_cast<QLabel*>(row(w, base, "Name"))->text(), QStringLiteral("----"));
        QCOMPARE(static_cast<QLabel*>(row(w, base, "Ver"))->text(), QStringLiteral("----"));
        QVERIFY(!static_cast<QCheckBox*>(row(w, base, "_checkBox"))->isChecked());
    }
    for (const QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        QCOMPARE(textColour(w, "VerUpFile", g), kGrey);
        QCOMPARE(textColour(w, "VerUpFileInfoFrame", g), kGrey);
    }
    // The frame's labels inherit its grey; the camera frame keeps the normal colour.
    QCOMPARE(textColour(w, "VERUP_FPGA_LensName"), kGrey);
    QCOMPARE(textColour(w, "VERUP_Model"), kGrey);
    QCOMPARE(textColour(w, "frame"), QApplication::palette().color(QPalette::WindowText));
    QCOMPARE(textColour(w, "IP_ModelVer"), QApplication::palette().color(QPalette::WindowText));

    QCOMPARE(mw_Qid, 0);
    QCOMPARE(w.mw_ReqCamIndex, 0);
    QCOMPARE(mw_CamInfo.ModelID, 0);
    QVERIFY(mw_CamInfo.Ver_CameraCPU.isEmpty() && mw_CamInfo.Ver_CameraEEPROM.isEmpty());
    QVERIFY(mw_VupFileInfo.DirPath.isEmpty() && mw_VupFileInfo.CamIPAddress.isEmpty());
    QCOMPARE(mw_VupFileInfo.Model, 0);
    QVERIFY(mw_VupFileInfo.lens_fpga.FileName.isEmpty());
    QCOMPARE(mw_VupFileInfo.lens_fpga.Select, 0);
    // The reset leaves the two fields the operator types in alone.
    QCOMPARE(child<QLineEdit>(w, "VerUpFileWriteSpace")->text(), folder);
    QCOMPARE(child<QLineEdit>(w, "IPAddressWriteSpace")->text(), reset ? QStringLiteral("127.0.0.1") : QString());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
