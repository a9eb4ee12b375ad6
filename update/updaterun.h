#ifndef KELVORA_UPDATE_UPDATERUN_H
#define KELVORA_UPDATE_UPDATERUN_H

// One update run against one camera, from the first upload to its end: posts each planned
// file, waits while the camera writes it and restarts (the reset-wait ticks), asks whether
// it is back (the model re-inquiry), checks the network software version where the
// camera's family needs it, and guards the whole run's upload waits (the watchdog ticks).
// The decisions live in update/sequencer.h, the plan in update/uploadplan.h, the wire
// format in update/uploadrequest.h, the upload's exchange in update/uploadtransfer.h;
// this object carries them out. A folder sealed by a SHA256SUMS (firmware/sha256sums.h)
// is held to it twice: every planned file at the start, before anything is posted, and
// each file's shared copy again as it is posted. An empty file is never posted: an empty
// image is no firmware. Widget-free: it reports by signals and never shows anything. The
// progress dialog runs the window's run on the process-wide records, reading the folder
// as it goes; the fleet runs one per camera on records of their own, each sending the
// copies the fleet's plan judged (setJudgedFiles) and reading nothing from the folder.

#include "common/debuglog.h"
#include "firmware/records.h"
#include "firmware/sha256sums.h"
#include "update/runstate.h"
#include "update/sequencer.h"
#include "update/uploadrequest.h"

#include <QObject>
#include <QHash>
#include <QPointer>
#include <QSet>

#include <memory>
#include <vector>

class FirmwareCopy;
class FirmwareFiles;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

class UpdateRun : public QObject
{
    Q_OBJECT

public:
    // A run on the given records (their reset is the caller's: see initializeAll).
    explicit UpdateRun(const RunRecords& records, QObject* parent = nullptr);
    ~UpdateRun() override;

    // The timers and managers keep the names the debug trace and the tests know them by.
    QTimer* watchdogTimer() const { return m_watchdog; }    // "diapro_Timer1"
    QTimer* resetWaitTimer() const { return m_resetWait; }  // "diapro_Timer2"
    QNetworkAccessManager* manager() const { return m_manager; }        // "diapro_Manager"
    QNetworkAccessManager* camManager() const { return m_camManager; }  // "diapro_CamManager"

    void setLog(const kelvora::DebugLog& log) { m_log = log; }
    // Where firmware files are read; a cache of the run's own unless shared with others.
    void setFirmwareFiles(std::shared_ptr<FirmwareFiles> files);
    // What a plan judged before the run: the folder's SHA256SUMS as the plan read it, and the
    // copy of each file it would send, by its name in the list file. Once set, the run sends
    // only these copies, judged against these sums; nothing is read from the folder, so a
    // SHA256SUMS deleted or a link retargeted since changes nothing that is sent.
    struct JudgedFiles {
        FolderSums sums;
        QHash<QString, std::shared_ptr<const FirmwareCopy>> copies;
    };
    void setJudgedFiles(JudgedFiles files);
    // Interval of the ticks: one second unless a test or tool plays them itself.
    void setTickIntervals(int watchdogMs, int resetWaitMs);

    // Resets of the run's records and state: the firmware set, the plan, and all of it.
    void initializeSet();
    void initializePlan();
    void initializeAll();

    // Starts a run of `set`: 0 when its first file is out (the run goes on until ended());
    // 1 when no run is going on, because the plan is not valid or the first file could not
    // be posted (ended() has been emitted then), or because a run is already in progress.
    int start(const vup_file_info& set);

    // The steps of a run, each as the trace names it.
    int searchPlan();          // diapro_SearchVerUpFile
    void sortPlan();           // diapro_SortFile
    void getFileType(QString* type);  // diapro_getFileType: the current file's type code
    void getTimeout(int* timeout);    // diapro_getTimeout: its reset wait, and the step per tick
    void postCurrentFile();    // diapro_SetVerUpFile
    // diaPro_VerUpStart: the form for the current file, or the end when it has none.
    void postFile(const QString& credential, const QString& filePath, const QString& fileType);
    void post(UploadForm form, const QString& credential, const QString& filePath, const QString& fileType);
    void askNetworkVersion();  // diapro_ReqCam
    void watchdogTick();       // diapro_Timer1
    void resetWaitTick();      // diapro_Timer2
    void handleReply(QNetworkReply* reply);         // on diapro_Manager: upload or re-inquiry
    void handleVersionReply(QNetworkReply* reply);  // on diapro_CamManager

    // The file a SHA256SUMS refused, and why, when that ended the last run (a FileUnreadable
    // end); an empty name otherwise. Kept until the next start.
    struct SumsRefusal {
        QString fileName;
        SumCheck check;
    };
    const SumsRefusal& sumsRefusal() const { return m_sumsRefusal; }

    // What the camera did, in a line for the operator, when the last run ended on a failure:
    // "the camera refused the credentials (HTTP 401)", "HTTP 503", "connection reset after
    // 1.2 MB of 3.0 MB", "no answer within 300 s", ...; empty otherwise. Kept until the next
    // start. Never shown by the window, which keeps its own texts; never holds a credential.
    QString failureDetail() const { return m_failureDetail; }

    bool isRunning() const { return m_running; }
    // The camera has taken the current file: it is writing it, restarting or being checked.
    bool cameraHoldsFile() const { return m_running && (*m_records.mode == 1 || *m_records.mode == 2); }
    const RunRecords& records() const { return m_records; }

    // Ends the run at once as stopped: every request is aborted (a file on the wire is
    // abandoned), nothing more is sent.
    void stop();
    // No further file is posted: a run whose current file is done ends as stopped then,
    // instead of going on with the next.
    void stopPosting() { m_stopPosting = true; }

signals:
    // A file of the plan is about to be posted (index from 0).
    void fileStarted(int index, int count, const QString& fileName);
    // Body bytes handed to the network for the current file.
    void uploadProgress(qint64 sent, qint64 total);
    // The camera has accepted the current file: its upload is over, the reset wait begins.
    void fileAccepted();
    // The progress to show for the current file: the reset wait's percent, 100 once back.
    void progressChanged(int percent);
    // The file's deadline has passed and its network software version is being asked for.
    void versionCheckStarted();
    // An end's message, at its place among the end's steps; a front end may hold the run
    // there (the window shows it in a message box).
    void message(const QString& text);
    // An end's request to close, at its place among the end's steps.
    void closeRequested();
    // The run has ended; `message` is what the operator is told, empty if nothing.
    void ended(RunEnd end, const QString& message);

private:
    void nextFile();
    // Sends an inquiry over a connection of its own (camera/inquiry.h, sendInquiry); its reply
    // comes back to `handler`.
    QNetworkReply* inquire(const QByteArray& url, void (UpdateRun::*handler)(QNetworkReply*));
    void claimPlan();
    bool planPassesSums();
    // The copy the plan judged for the file at plan position `position`; null when none.
    std::shared_ptr<const FirmwareCopy> judgedCopy(int position) const;
    void refuseBySums(const QString& fileName, const SumCheck& check, const char* detail);
    void refuseEmpty(const QString& fileName, const char* detail);
    // Why an upload's reply failed, as failureDetail() tells it.
    QString uploadFailure(QNetworkReply* reply) const;
    void endRun(RunEnd end, const char* detail = nullptr);
    void abortAll();
    void forgetAwaitedReplies();

    RunRecords m_records;
    kelvora::DebugLog m_log;
    std::shared_ptr<FirmwareFiles> m_files;
    // By plan position, a claim on each file not posted yet: read for another run meanwhile
    // (a fleet's), its copy stays for this one. Let go as the file is posted.
    std::vector<std::shared_ptr<void>> m_claims;
    // The copy of the file being posted, until the camera has accepted it (whoever follows
    // the run reads its size and digest then) or the run ends.
    std::shared_ptr<const FirmwareCopy> m_sending;
    QTimer* m_watchdog = nullptr;
    QTimer* m_resetWait = nullptr;
    QNetworkAccessManager* m_manager = nullptr;
    QNetworkAccessManager* m_camManager = nullptr;
    int m_watchdogTickMs = 1000;
    int m_resetWaitTickMs = 1000;
    bool m_running = false;
    bool m_stopPosting = false;
    // The folder's SHA256SUMS as the start read it: the posts are held to what was judged.
    FolderSums m_sums;
    SumsRefusal m_sumsRefusal;
    // The replies the run waits for: only these are judged, every other one is released
    // unread. On diapro_Manager the upload (state 0) or the model re-inquiry (state 2);
    // on diapro_CamManager the version inquiries sent since the file's deadline.
    QNetworkReply* m_awaitedReply = nullptr;
    QSet<QNetworkReply*> m_versionReplies;
    bool m_versionCheckDue = false;
    // Every request still out, for the end to abort.
    QList<QPointer<QNetworkReply>> m_out;
    // The fleet's judged files (setJudgedFiles), and by plan position those not posted yet.
    std::unique_ptr<JudgedFiles> m_judged;
    std::vector<std::shared_ptr<const FirmwareCopy>> m_judgedByPosition;
    QString m_failureDetail;
};

#endif
