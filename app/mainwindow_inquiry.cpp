// Connect: the camera inquiry sequence, carried out by CameraInquiry on the window's records.
#include "app/mainwindow.h"

#include "camera/camerainquiry.h"
#include "common/debuglog.h"
#include "ui_mainwindow.h"

#include <QLabel>
#include <QMessageBox>
#include <QNetworkReply>

using kelvora::dbgLine;

// The window's hold on the sequence: a failure clears the whole window, each next inquiry
// goes out through mw_ReqCam (which takes the address from the field again), the end
// identifies the model into the window, and a wrong answer is told in a box.
class WindowInquiry final : public CameraInquiry
{
public:
    WindowInquiry(MainWindow* window, QNetworkAccessManager* manager)
        : CameraInquiry(window, manager)
        , m_window(window)
    {
        bindRecords(&window->mw_ReqCamIndex, &mw_Qid, &mw_CamInfo);
        connect(this, &CameraInquiry::versionStored, window, [window](const InquiryVersionSlot* slot, const QString& version) {
            if (QLabel* label = window->findChild<QLabel*>(QLatin1String(slot->label)))
                label->setText(version);
        });
        connect(this, &CameraInquiry::tk300Skipped, window, [window] {
            for (const char* name : kTk300OnlyLabels)
                if (QLabel* label = window->findChild<QLabel*>(QLatin1String(name)))
                    label->setText(QStringLiteral("----"));
        });
    }

protected:
    void clearAfterFailure() override { m_window->mw_initializeAllCrear(); }
    void sendNext(int n) override { m_window->mw_ReqCam(n); }
    void sequenceComplete() override
    {
        m_window->mw_SetModel();
        m_window->setFirmwareAreaColour("#000000");
    }
    void answerRefused() override
    {
        QMessageBox::information(m_window, QString(), QStringLiteral("Camera Err"), QMessageBox::Ok);
    }

private:
    MainWindow* m_window;
};

CameraInquiry* MainWindow::createInquiry()
{
    return new WindowInquiry(this, mw_Manager);
}

void MainWindow::MW_ConnectCamera()
{
    dbgLine("■DEBUG■MW_ConnectCamera()");
    // The inquiry that is due, not a fresh start: after a finished sequence this sends the
    // bare "/cgi-bin/" request, whose answer clears the window for a new start.
    mw_ReqCam(mw_ReqCamIndex);
}

void MainWindow::mw_ReqCam(int n)
{
    // The update run takes the camera address from here, so every inquiry refreshes it.
    mw_VupFileInfo.CamIPAddress = ui->IPAddressWriteSpace->text();
    m_inquiry->send(mw_VupFileInfo.CamIPAddress, n);
}

void MainWindow::MW_CAM_finished(QNetworkReply* reply)
{
    m_inquiry->handleReply(reply);
}
