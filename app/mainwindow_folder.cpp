// The firmware folder: chooser, model section and list file.
#include "app/mainwindow.h"

#include "app/debuglog.h"

void MainWindow::MW_selectDir()
{
    kelvora::dbgLine("■DEBUG■MW_selectDir()");
}
