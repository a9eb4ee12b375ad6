#ifndef KELVORA_MAINWINDOW_H
#define KELVORA_MAINWINDOW_H

#include "camera/caminfo.h"
#include "firmware/records.h"

#include <QMainWindow>

class CameraInquiry;
class QCheckBox;
class QLabel;
class QNetworkAccessManager;
class QNetworkReply;
class QSettings;

QT_BEGIN_NAMESPACE
namespace Ui {
class MainWindow;
}
QT_END_NAMESPACE

// The camera's model answer (CamQid), its record and the main window's firmware set.
// Process-wide: they live from start-up to exit, the window only shows and fills them.
extern int mw_Qid;
extern cam_info mw_CamInfo;
extern vup_file_info mw_VupFileInfo;

// The operator's window. Its slots glue the widgets to the widget-free camera, firmware
// and launch code; the operations behind them carry the names the debug log shows.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Clearing of everything shown (at start and after every failed inquiry).
    void mw_initializeAllCrear();
    void mw_initializeCamInfo();
    void mw_initializeVupFileInfo();
    void mw_SetModel();

    // Camera inquiry.
    void mw_ReqCam(int n);

    // Firmware folder.
    void mw_selectDir();
    int mw_SearchFileModel(QSettings* settings);

    // Execute.
    int mw_CheckFileVer();
    void mw_OpenPasswordDialog();
    void mw_CheckBox();

    // Number of the camera inquiry due next (0 model, 1..9 versions, 11 ended).
    int mw_ReqCamIndex = 0;

signals:
    // Cameras > Many Cameras... (Ctrl+M): the program opens its many-camera window.
    void manyCamerasRequested();

private slots:
    void MW_ConnectCamera();
    void MW_selectDir();
    void MW_CAM_finished(QNetworkReply* reply);
    void MW_OpenPasswordDialog();

private:
    friend class WindowInquiry;

    // One row of the firmware grid, in component order.
    struct FirmwareRow {
        QLabel* name;
        QLabel* version;
        QCheckBox* box;
    };
    FirmwareRow firmwareRow(int component) const;
    CameraInquiry* createInquiry();
    void setFirmwareAreaColour(const char* colour);

    Ui::MainWindow* ui;
    QNetworkAccessManager* mw_Manager = nullptr;
    // Carries out the inquiry sequence on the window's records (app/mainwindow_inquiry.cpp).
    CameraInquiry* m_inquiry = nullptr;
};

#endif
