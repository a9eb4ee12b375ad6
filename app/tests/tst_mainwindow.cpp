#include "app/mainwindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
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

template<typename T>
T* child(QWidget* w, const QString& name)
{
    T* found = w->findChild<T*>(name);
    if (!found)
        qFatal("missing widget %s", qPrintable(name));
    return found;
}

QColor textColour(QWidget* w, QPalette::ColorGroup group = QPalette::Active)
{
    return w->palette().color(group, QPalette::WindowText);
}

// Puts something other than the cleared state everywhere the reset must reach.
void dirtyEverything(MainWindow& w)
{
    for (const char* name : kCameraValueLabels)
        child<QLabel>(&w, QLatin1String(name))->setText(QStringLiteral("V09.99"));
    for (const char* row : kFirmwareRows) {
        const QString base = QLatin1String(row);
        child<QLabel>(&w, base + QLatin1String("Name"))->setText(QStringLiteral("file.bin"));
        child<QLabel>(&w, base + QLatin1String("Ver"))->setText(QStringLiteral("V01.00"));
        child<QCheckBox>(&w, base + QLatin1String("_checkBox"))->setChecked(true);
    }
    for (const char* name : {"VerUpFile", "VerUpFileInfoFrame"}) {
        QWidget* target = child<QWidget>(&w, QLatin1String(name));
        QPalette p = target->palette();
        p.setBrush(QPalette::All, QPalette::WindowText, QBrush(Qt::black));
        target->setPalette(p);
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

void verifyCleared(MainWindow& w)
{
    for (const char* name : kCameraValueLabels)
        QCOMPARE(child<QLabel>(&w, QLatin1String(name))->text(), QStringLiteral("----"));
    for (const char* row : kFirmwareRows) {
        const QString base = QLatin1String(row);
        QCOMPARE(child<QLabel>(&w, base + QLatin1String("Name"))->text(), QStringLiteral("----"));
        QCOMPARE(child<QLabel>(&w, base + QLatin1String("Ver"))->text(), QStringLiteral("----"));
        QVERIFY(!child<QCheckBox>(&w, base + QLatin1String("_checkBox"))->isChecked());
    }
    for (const QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        QCOMPARE(textColour(child<QWidget>(&w, QStringLiteral("VerUpFile")), g), kGrey);
        QCOMPARE(textColour(child<QWidget>(&w, QStringLiteral("VerUpFileInfoFrame")), g), kGrey);
    }
    // The frame's labels inherit its grey; the camera frame keeps the normal colour.
    QCOMPARE(textColour(child<QWidget>(&w, QStringLiteral("VERUP_FPGA_LensName"))), kGrey);
    QCOMPARE(textColour(child<QWidget>(&w, QStringLiteral("VERUP_Model"))), kGrey);
    QCOMPARE(textColour(child<QWidget>(&w, QStringLiteral("frame"))), QApplication::palette().color(QPalette::WindowText));
    QCOMPARE(textColour(child<QWidget>(&w, QStringLiteral("IP_ModelVer"))), QApplication::palette().color(QPalette::WindowText));

    QCOMPARE(mw_Qid, 0);
    QCOMPARE(w.mw_ReqCamIndex, 0);
    QCOMPARE(mw_CamInfo.ModelID, 0);
    QVERIFY(mw_CamInfo.Ver_CameraCPU.isEmpty());
    QVERIFY(mw_CamInfo.Ver_CameraEEPROM.isEmpty());
    QVERIFY(mw_VupFileInfo.DirPath.isEmpty());
    QVERIFY(mw_VupFileInfo.CamIPAddress.isEmpty());
    QCOMPARE(mw_VupFileInfo.Model, 0);
    QVERIFY(mw_VupFileInfo.lens_fpga.FileName.isEmpty());
    QCOMPARE(mw_VupFileInfo.lens_fpga.Select, 0);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void fixedWindow();
    void texts_data();
    void texts();
    void startsCleared();
    void resetClearsButKeepsFolderField();
    void setModel_data();
    void setModel();
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
    QCOMPARE(child<QWidget>(&w, QStringLiteral("VersionUp_Button"))->geometry(), QRect(640, 530, 114, 32));
    QCOMPARE(child<QWidget>(&w, QStringLiteral("VerUpFileInfoFrame"))->geometry(), QRect(40, 310, 731, 221));
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
    if (label) {
        QCOMPARE(label->text(), text);
        return;
    }
    QAbstractButton* button = w.findChild<QAbstractButton*>(name);
    QVERIFY2(button, qPrintable(name));
    QCOMPARE(button->text(), text);
}

void TestMainWindow::startsCleared()
{
    mw_Qid = CAM_QID_TK300;
    mw_VupFileInfo.DirPath = QStringLiteral("/left/over");
    MainWindow w;
    verifyCleared(w);
    QVERIFY(child<QLineEdit>(&w, QStringLiteral("VerUpFileWriteSpace"))->text().isEmpty());
}

void TestMainWindow::resetClearsButKeepsFolderField()
{
    MainWindow w;
    child<QLineEdit>(&w, QStringLiteral("VerUpFileWriteSpace"))->setText(QStringLiteral("/some/folder"));
    child<QLineEdit>(&w, QStringLiteral("IPAddressWriteSpace"))->setText(QStringLiteral("127.0.0.1"));
    dirtyEverything(w);

    w.mw_initializeAllCrear();

    verifyCleared(w);
    QCOMPARE(child<QLineEdit>(&w, QStringLiteral("VerUpFileWriteSpace"))->text(), QStringLiteral("/some/folder"));
    QCOMPARE(child<QLineEdit>(&w, QStringLiteral("IPAddressWriteSpace"))->text(), QStringLiteral("127.0.0.1"));
}

void TestMainWindow::setModel_data()
{
    QTest::addColumn<int>("qid");
    QTest::addColumn<QString>("cpu");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("shown");
    QTest::newRow("tk300") << int(CAM_QID_TK300) << "" << "" << int(CAM_MODELID_QV_TK300) << "QV-TK300";
    QTest::newRow("new tk15 h") << int(CAM_QID_TK20) << "V04.01" << "V01.99" << int(CAM_MODELID_QV_NEW_TK15_H) << "QV-TK15H";
    QTest::newRow("old tk20 s") << int(CAM_QID_TK20) << "V03.10" << "V01.45" << int(CAM_MODELID_QV_OLD_TK20_S) << "QV-TK20S";
    QTest::newRow("no model") << int(CAM_QID_TK10) << "V02.10" << "V01.45" << int(CAM_MODELID_NONE) << "----";
}

void TestMainWindow::setModel()
{
    QFETCH(int, qid);
    QFETCH(QString, cpu);
    QFETCH(QString, output);
    QFETCH(int, model);
    QFETCH(QString, shown);

    MainWindow w;
    mw_Qid = qid;
    mw_CamInfo.Ver_CameraCPU = cpu;
    mw_CamInfo.Ver_OutputFPGA = output;
    child<QLabel>(&w, QStringLiteral("IP_CPU_CamMainVer"))->setText(cpu);

    w.mw_SetModel();

    QCOMPARE(mw_CamInfo.ModelID, model);
    QCOMPARE(child<QLabel>(&w, QStringLiteral("IP_ModelVer"))->text(), shown);
    // The rest of the camera display and the model answer stay as they were.
    QCOMPARE(child<QLabel>(&w, QStringLiteral("IP_CPU_CamMainVer"))->text(), cpu);
    QCOMPARE(mw_Qid, qid);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
