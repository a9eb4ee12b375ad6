#ifndef KELVORA_UPDATE_DIALOGPROGRESSBAR_H
#define KELVORA_UPDATE_DIALOGPROGRESSBAR_H

#include "firmware/records.h"
#include "update/runstate.h"
#include "update/sequencer.h"
#include "update/uploadrequest.h"

#include <QDialog>
#include <QSet>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

QT_BEGIN_NAMESPACE
namespace Ui {
class DialogProgressBar;
}
QT_END_NAMESPACE

// The modal dialog in which one update run takes place: it posts each planned file,
// waits while the camera writes it and restarts, and asks the camera whether it is back.
// The decisions live in update/sequencer.h, the plan in update/uploadplan.h, the wire
// format in update/uploadrequest.h and the upload's exchange in update/uploadtransfer.h;
// this class carries them out.
//
// Use: construct (resets the run state), DIAPRO_StartVerUp(set); only when that returns
// 0 run exec(), which returns once the run has ended; then delete the dialog.
class DialogProgressBar : public QDialog
{
    Q_OBJECT

public:
    explicit DialogProgressBar(QWidget* parent = nullptr);
    ~DialogProgressBar() override;

    // 0: the first file has been posted and the dialog must be run modally until the run
    // ends. 1: no run is going on (the operator has seen why); do not run the dialog.
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

    // From a start that returned 0 until the run's end; the dialog refuses to close then.
    bool isRunInProgress() const { return m_runInProgress; }

    // Interval of both timers' ticks; one second unless a test drives the ticks itself.
    void setTickInterval(int milliseconds) { m_watchdogTickMs = m_resetWaitTickMs = milliseconds; }
    // The reset-wait ticks alone, so a whole run goes fast while the upload watchdog
    // keeps counting real seconds.
    void setResetWaitTickInterval(int milliseconds) { m_resetWaitTickMs = milliseconds; }

private slots:
    void DIAPRO_timeout1();
    void DIAPRO_timeout2();
    void DIAPRO_finished(QNetworkReply* reply);
    void DIAPRO_CAM_finished(QNetworkReply* reply);
    void Test();

private:
    void postUpload(UploadForm form, const QString& credential, const QString& filePath, const QString& fileType);
    void nextFile();
    void endRun(RunEnd end, const char* detail = nullptr);
    void forgetAwaitedReplies();

    Ui::DialogProgressBar* ui;
    QTimer* diapro_Timer1 = nullptr;
    QTimer* diapro_Timer2 = nullptr;
    QNetworkAccessManager* diapro_Manager = nullptr;
    QNetworkAccessManager* diapro_CamManager = nullptr;

    QObject* m_closeGuard = nullptr;
    bool m_runInProgress = false;
    int m_watchdogTickMs = 1000;
    int m_resetWaitTickMs = 1000;
    // The replies the run waits for: only these are judged, every other one is released
    // unread. On diapro_Manager the upload (state 0) or the model re-inquiry (state 2);
    // on diapro_CamManager the version inquiries sent since the file's deadline.
    QNetworkReply* m_awaitedReply = nullptr;
    QSet<QNetworkReply*> m_versionReplies;
    bool m_versionCheckDue = false;
};

#endif
