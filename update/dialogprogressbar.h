#ifndef KELVORA_UPDATE_DIALOGPROGRESSBAR_H
#define KELVORA_UPDATE_DIALOGPROGRESSBAR_H

#include "firmware/records.h"
#include "update/runstate.h"
#include "update/sequencer.h"
#include "update/updatelock.h"
#include "update/updaterun.h"
#include "update/uploadrequest.h"

#include <QDialog>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

QT_BEGIN_NAMESPACE
namespace Ui {
class DialogProgressBar;
}
QT_END_NAMESPACE

// The modal dialog in which one update run takes place. The run itself is carried out by
// UpdateRun (update/updaterun.h) on the process-wide records; the dialog shows its file
// and progress, shows each end's message at its place, and closes when the run says so.
//
// Use: construct (resets the run state) with the operator's window as parent, over which
// an end's message shows while the dialog does not; DIAPRO_StartVerUp(set); only when that
// returns 0 run exec(), which returns once the run has ended; then delete the dialog. The
// start takes the camera's lock (update/updatelock.h), held until the dialog is deleted.
class DialogProgressBar : public QDialog
{
    Q_OBJECT

public:
    explicit DialogProgressBar(QWidget* parent = nullptr);
    ~DialogProgressBar() override;

    // 0: the first file has been posted and the dialog must be run modally until the run
    // ends. 1: no run is going on (the operator has seen why); do not run the dialog. A
    // camera that another Kelvora process is updating is refused before anything is posted.
    int DIAPRO_StartVerUp(vup_file_info info);

    // The plan.
    int diapro_SearchVerUpFile();
    void diapro_SortFile();
    void diapro_getFileType(QString* type);
    void diapro_getTimeout(int* timeout);
    void diapro_SetVerUpFile();

    // The uploads: the dispatcher and the camera's three forms.
    void diaPro_VerUpStart(QString credential, QString filePath, QString fileType);
    void diaPro_VerUpStart_TKD7_NET(QString credential, QString filePath, QString fileType);
    void diaPro_VerUpStart_TKD7_CAM(QString credential, QString filePath, QString fileType);
    void diaPro_VerUpStart_TK15_TK20(QString credential, QString filePath, QString fileType);

    // The network version inquiry.
    void diapro_ReqCam();

    // Resets of the run's records and state.
    void diapro_initializeVupFileInfo();
    void diapro_initializediapro_sort_fileinfo();
    void diapro_initializeAllInfo();

    // From a start that returned 0 until the run's end; the dialog refuses to close then,
    // but while the camera holds the file it offers to stop watching.
    bool isRunInProgress() const;

    // Interval of both timers' ticks; one second unless a test drives the ticks itself.
    void setTickInterval(int milliseconds);
    // The reset-wait ticks alone, so a whole run goes fast while the upload watchdog
    // keeps counting real seconds.
    void setResetWaitTickInterval(int milliseconds);

    // Escape or a close request during a run: while the camera holds the file, asks the
    // operator whether to stop watching, and stops the run if so.
    void askToStopWatching();

private slots:
    void DIAPRO_timeout1();
    void DIAPRO_timeout2();
    void DIAPRO_finished(QNetworkReply* reply);
    void DIAPRO_CAM_finished(QNetworkReply* reply);
    void Test();

private:
    // False when another process holds the camera's lock: the operator has been told.
    bool takeCameraLock(const QString& address);
    void showMessage(const QString& text);

    Ui::DialogProgressBar* ui;
    QTimer* diapro_Timer1 = nullptr;
    QTimer* diapro_Timer2 = nullptr;
    QNetworkAccessManager* diapro_Manager = nullptr;
    QNetworkAccessManager* diapro_CamManager = nullptr;

    UpdateRun* m_run = nullptr;
    QObject* m_closeGuard = nullptr;
    int m_watchdogTickMs = 1000;
    int m_resetWaitTickMs = 1000;
    bool m_askingToStop = false;
    // Taken by the start, let go with the dialog: the camera stays locked while the run's
    // last box is open and until nothing of the run is left.
    UpdateLock m_cameraLock;
};

#endif
