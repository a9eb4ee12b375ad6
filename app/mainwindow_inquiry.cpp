// Connect: the camera inquiry sequence.
#include "app/mainwindow.h"

#include "app/debuglog.h"

#include <QNetworkReply>

void MainWindow::MW_ConnectCamera()
{
    kelvora::dbgLine("■DEBUG■MW_ConnectCamera()");
}

void MainWindow::MW_CAM_finished(QNetworkReply* reply)
{
    reply->deleteLater();
}
