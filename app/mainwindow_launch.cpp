// Execute: guards, compatibility check, ticks and the credentials dialog.
#include "app/mainwindow.h"

#include "app/debuglog.h"

void MainWindow::MW_OpenPasswordDialog()
{
    kelvora::dbgLine("■DEBUG■MW_OpenPasswordDialog()");
}
