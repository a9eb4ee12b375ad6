// The firmware folder: chooser, model section and list file.
#include "app/mainwindow.h"

#include "common/debuglog.h"
#include "firmware/listfile.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>

#include <memory>

using kelvora::dbgLine;
using kelvora::dbgValue;

void MainWindow::MW_selectDir()
{
    dbgLine("■DEBUG■MW_selectDir()");
    if (mw_Qid == CAM_QID_NONE) {
        QMessageBox::information(this, QString(), QStringLiteral("No Connect Camera"));
        return;
    }
    mw_selectDir();
}

void MainWindow::mw_selectDir()
{
    dbgLine("■DEBUG■mw_selectDir()");

    const QString dir = QFileDialog::getExistingDirectory(this, tr("Directory"), QDir::currentPath(),
                                                          QFileDialog::ShowDirsOnly);
    mw_VupFileInfo.DirPath = dir;
    ui->VerUpFileWriteSpace->setText(dir);

    // A cancelled chooser gives no folder: nothing is read, least of all a list file
    // at the file system's root that the operator never chose. A list file that is not a
    // regular file reads as a missing one.
    std::unique_ptr<QSettings> settings;
    int result = 1;
    if (!dir.isEmpty()) {
        settings = openListFile(dir);
        result = mw_SearchFileModel(settings.get());
    }
    dbgLine("■DEBUG■Err");
    dbgValue(result);
    if (result != 0) {
        QMessageBox::information(this, QString(), QStringLiteral("File is NOT exist!"));
        return;
    }

    readComponentFiles(settings.get(), &mw_VupFileInfo);
    for (int i = 0; i < kComponentCount; ++i) {
        const file_info& file = mw_VupFileInfo.*kComponents[i].field;
        const FirmwareRow row = firmwareRow(i);
        // Ticks are only ever added here: a box the operator or an earlier folder ticked stays.
        if (!file.FileName.isEmpty())
            row.box->setChecked(true);
        row.name->setText(file.FileName);
        row.version->setText(file.Version);
    }
}

int MainWindow::mw_SearchFileModel(QSettings* settings)
{
    const int result = searchModelSection(settings, mw_CamInfo.ModelID);
    if (result == 0)
        mw_VupFileInfo.Model = mw_CamInfo.ModelID;
    return result;
}
