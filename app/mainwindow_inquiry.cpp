// Connect: the camera inquiry sequence.
#include "app/mainwindow.h"

#include "common/debuglog.h"
#include "camera/inquiry.h"
#include "ui_mainwindow.h"

#include <QLabel>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

using kelvora::dbgLine;
using kelvora::dbgValue;

void MainWindow::MW_ConnectCamera()
{
    dbgLine("■DEBUG■MW_ConnectCamera()");
    // The inquiry that is due, not a fresh start: after a finished sequence this sends the
    // bare "/cgi-bin/" request, whose answer clears the window for a new start.
    mw_ReqCam(mw_ReqCamIndex);
}

void MainWindow::mw_ReqCam(int n)
{
    dbgLine("■DEBUG■mw_ReqCam()");
    // The update run takes the camera address from here, so every inquiry refreshes it.
    mw_VupFileInfo.CamIPAddress = ui->IPAddressWriteSpace->text();
    dbgValue(mw_VupFileInfo.CamIPAddress);
    const QByteArray url = inquiryUrlBytes(mw_VupFileInfo.CamIPAddress, n);
    dbgValue(url);
    mw_Manager->get(QNetworkRequest(QUrl::fromEncoded(url, QUrl::TolerantMode)));
}

void MainWindow::MW_CAM_finished(QNetworkReply* reply)
{
    dbgLine("■DEBUG■MW_CAM_finished()");
    const QNetworkReply::NetworkError error = reply->error();
    dbgValue(static_cast<int>(error));
    const bool failed = error != QNetworkReply::NoError;
    const QByteArray body = failed ? QByteArray() : reply->readAll();
    // Everything needed is read: release it now, before the failure box's nested loop.
    reply->deleteLater();

    const InquiryDecision d = judgeInquiryAnswer(mw_ReqCamIndex, mw_Qid, failed, body);

    if (d.outcome == InquiryOutcome::NetworkFailed) {
        dbgLine("Camera Err2");
        mw_initializeAllCrear();
        return;
    }
    if (d.outcome == InquiryOutcome::AnswerFailed) {
        mw_initializeAllCrear();
        dbgLine("Camera Err1");
        QMessageBox::information(this, QString(), QStringLiteral("Camera Err"), QMessageBox::Ok);
        return;
    }

    mw_Qid = d.qid;
    dbgLine(d.tag);
    if (d.slot) {
        mw_CamInfo.*(d.slot->field) = d.version;
        dbgValue(d.version);
        if (QLabel* label = findChild<QLabel*>(QLatin1String(d.slot->label)))
            label->setText(d.version);
    }
    if (d.resetTk300Labels) {
        for (const char* name : kTk300OnlyLabels) {
            if (QLabel* label = findChild<QLabel*>(QLatin1String(name)))
                label->setText(QStringLiteral("----"));
        }
    }
    mw_ReqCamIndex = d.next;

    if (d.outcome == InquiryOutcome::Next) {
        dbgLine("Camera NEXT");
        mw_ReqCam(mw_ReqCamIndex);
        return;
    }

    mw_SetModel();
    dbgLine("■DEBUG■NOTERR");
    setFirmwareAreaColour("#000000");
    dbgLine("Camera END");
}
