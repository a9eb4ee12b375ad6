#include "app/mainwindow.h"

#include "camera/camerainquiry.h"
#include "common/debuglog.h"
#include "ui_mainwindow.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

using kelvora::dbgLine;
using kelvora::dbgValue;

int mw_Qid = CAM_QID_NONE;
cam_info mw_CamInfo;
vup_file_info mw_VupFileInfo;

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    // Sources and tr() are UTF-8 in Qt 6; there is no codec left to install.
    mw_initializeAllCrear();

    mw_Manager = new QNetworkAccessManager(this);
    // The camera's own answer is what gets judged: a redirect is an answer, not a hop.
    mw_Manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);

    m_inquiry = createInquiry();

    connect(ui->IPAddressButton, &QPushButton::clicked, this, &MainWindow::MW_ConnectCamera);
    connect(mw_Manager, &QNetworkAccessManager::finished, this, &MainWindow::MW_CAM_finished);
    connect(ui->VerUpFileButton, &QToolButton::clicked, this, &MainWindow::MW_selectDir);
    connect(ui->VersionUp_Button, &QPushButton::clicked, this, &MainWindow::MW_OpenPasswordDialog);
    connect(ui->actionManyCameras, &QAction::triggered, this, &MainWindow::manyCamerasRequested);
    // The menu bar takes its height from the fixed window; the status bar, which never shows
    // anything, gives it back, so that Execute stays whole at the bottom.
    ui->statusbar->hide();
}

MainWindow::~MainWindow()
{
    delete ui;
}

MainWindow::FirmwareRow MainWindow::firmwareRow(int component) const
{
    switch (component) {
    case 0: return {ui->VERUP_CUP_CamMainName, ui->VERUP_CUP_CamMainVer, ui->VERUP_CUP_CamMain_checkBox};
    case 1: return {ui->VERUP_CPU_NetworkSoftName, ui->VERUP_CPU_NetworkSoftVer, ui->VERUP_CPU_NetworkSoft_checkBox};
    case 2: return {ui->VERUP_CPU_ServoName, ui->VERUP_CPU_ServoVer, ui->VERUP_CPU_Servo_checkBox};
    case 3: return {ui->VERUP_CPU_InterfaceName, ui->VERUP_CPU_InterfaceVer, ui->VERUP_CPU_Interface_checkBox};
    case 4: return {ui->VERUP_FPGA_FrontName, ui->VERUP_FPGA_FrontVer, ui->VERUP_FPGA_Front_checkBox};
    case 5: return {ui->VERUP_FPGA_BackendName, ui->VERUP_FPGA_BackendVer, ui->VERUP_FPGA_Backend_checkBox};
    case 6: return {ui->VERUP_FPGA_LensName, ui->VERUP_FPGA_LensVer, ui->VERUP_FPGA_Lens_checkBox};
    case 7: return {ui->VERUP_EEPROM_CamMainName, ui->VERUP_EEPROM_CamMainVer, ui->VERUP_EEPROM_CamMain_checkBox};
    default: return {ui->VERUP_EEPROM_InterfaceName, ui->VERUP_EEPROM_InterfaceVer, ui->VERUP_EEPROM_Interface_checkBox};
    }
}

void MainWindow::setFirmwareAreaColour(const char* colour)
{
    for (QWidget* w : {static_cast<QWidget*>(ui->VerUpFile), static_cast<QWidget*>(ui->VerUpFileInfoFrame)}) {
        QPalette palette = w->palette();
        palette.setBrush(QPalette::All, QPalette::WindowText, QBrush(QColor(QString::fromLatin1(colour))));
        w->setPalette(palette);
    }
}

void MainWindow::mw_initializeAllCrear()
{
    dbgLine("■DEBUG■mw_initializeAllCrear()");
    setFirmwareAreaColour("#808080");
    mw_initializeCamInfo();
    mw_initializeVupFileInfo();
    mw_ReqCamIndex = 0;
    mw_Qid = CAM_QID_NONE;
}

void MainWindow::mw_initializeCamInfo()
{
    dbgLine("■DEBUG■mw_initializeCamInfo()");
    resetCamInfo(mw_CamInfo);
    const QString none = QStringLiteral("----");
    for (QLabel* l : {ui->IP_CPU_ServoVer, ui->IP_CPU_CamMainVer, ui->IP_FPGA_FrontVer, ui->IP_CPU_NetworkSoftVer,
                      ui->IP_CPU_InterfaceVer, ui->IP_FPGA_LensVer, ui->IP_EEPROM_InterfaceVer,
                      ui->IP_EEPROM_CamMainVer, ui->IP_FPGA_BackendVer, ui->IP_ModelVer})
        l->setText(none);
}

void MainWindow::mw_initializeVupFileInfo()
{
    dbgLine("■DEBUG■mw_initializeVupFileInfo()");
    resetVupFileInfo(mw_VupFileInfo);
    const QString none = QStringLiteral("----");
    for (int i = 0; i < kComponentCount; ++i) {
        firmwareRow(i).box->setChecked(false);
        firmwareRow(i).name->setText(none);
    }
    for (int i = 0; i < kComponentCount; ++i)
        firmwareRow(i).version->setText(none);
}

void MainWindow::mw_SetModel()
{
    ui->IP_ModelVer->setText(modelDisplayName(m_inquiry->identify()));
}
