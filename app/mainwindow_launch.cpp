// Execute: guards, compatibility check, ticks and the credentials dialog.
#include "app/mainwindow.h"

#include "common/debuglog.h"
#include "launch/compat.h"
#include "launch/dialogpassword.h"

#include <QCheckBox>
#include <QMessageBox>

using kelvora::dbgLine;
using kelvora::dbgValue;

void MainWindow::MW_OpenPasswordDialog()
{
    dbgLine("■DEBUG■MW_OpenPasswordDialog()");
    if (mw_Qid == CAM_QID_NONE)
        return;
    if (mw_VupFileInfo.DirPath.isEmpty() || mw_CheckFileVer() != 0) {
        QMessageBox::information(this, QString(), QStringLiteral("MW_OpenPasswordDialog CamFileNone."));
        return;
    }
    mw_OpenPasswordDialog();
}

int MainWindow::mw_CheckFileVer()
{
    dbgLine("■DEBUG■mw_CheckFileVer()");
    dbgValue(mw_CamInfo.ModelID);
    if (mw_CamInfo.ModelID == CAM_MODELID_QV_TK300 || mw_CamInfo.ModelID == CAM_MODELID_QV_OLD_TK15_S) {
        for (const file_info* f : {&mw_VupFileInfo.cam_cpu, &mw_VupFileInfo.network_cpu, &mw_VupFileInfo.servo_cpu,
                                   &mw_VupFileInfo.front_fpga, &mw_VupFileInfo.backend_fpga,
                                   &mw_VupFileInfo.interface_eeprom})
            dbgValue(f->Version);
    }
    return checkFileVersions(mw_CamInfo.ModelID, mw_VupFileInfo);
}

void MainWindow::mw_OpenPasswordDialog()
{
    mw_CheckBox();
    auto* dialog = new DialogPassword(this);
    dialog->DIAPASS_SetInfo(mw_VupFileInfo);
    dialog->exec();
    delete dialog;
}

void MainWindow::mw_CheckBox()
{
    dbgLine("■DEBUG■mw_CheckBox()");
    for (int i = 0; i < kComponentCount; ++i) {
        const Component& c = kComponents[static_cast<size_t>(i)];
        const bool ticked = firmwareRow(i).box->checkState() == Qt::Checked;
        (mw_VupFileInfo.*c.field).Select = ticked ? RMOCAM_TRUE : RMOCAM_FALSE;
        dbgLine(QStringLiteral("■DEBUG■%1 %2").arg(QLatin1String(c.checkBox),
                                                     QLatin1String(ticked ? "RMOCAM_TRUE" : "RMOCAM_FALSE")));
    }
}
