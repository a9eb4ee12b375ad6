#ifndef KELVORA_FLEET_FLEETPLAN_H
#define KELVORA_FLEET_FLEETPLAN_H

// What the window would do for one camera with a firmware folder: the model section it
// accepts, the compatibility verdict of Execute, the components to send and their upload
// order, decided by the window's own functions. The folder's list file is read once and
// each model's reading is kept for every camera of that model. Every file a plan would send
// is read once, into the one copy every camera's run then sends (update/firmwarefiles.h),
// and judged from that copy: readable, not empty, vouched for by SHA256SUMS when the folder
// has one. After the plan nothing is read from the folder again, so what was judged is
// what goes out. Widget-free; sends nothing.

#include "camera/caminfo.h"
#include "firmware/records.h"
#include "firmware/sha256sums.h"
#include "update/sequencer.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <memory>
#include <vector>

class FirmwareCopy;
class QSettings;

// How a camera's run ended, or why it never started. Names as scripts see them.
enum class FleetEnd {
    Completed,
    UpToDate,         // nothing to send: the camera already runs the folder's versions
    Unreachable,
    NoSection,
    VersionsRefused,
    NothingToSend,    // the components asked for have no file, or no version to compare
    NoUploadOrder,    // a file to send has no upload order number (vupno)
    SumRefused,       // a file to send differs from the folder's SHA256SUMS, or is not listed there
    UploadFailed,
    UploadRefused,
    NoUploadReply,
    CameraNotBack,
    VersionCheckFailed,
    FileUnreadable,
    FileEmpty,        // a file to send is empty: no image of any component is empty
    Stopped,          // Ctrl-C: stopped during its run
    NotStarted,       // held back by the canary or the failure budget, or stopped before it started
    Pending,          // not ended yet (a report written while the update goes on)
};

// "completed", "no-section", ...
QString fleetEndName(FleetEnd end);
// The end of a name; false for a name that is none.
bool fleetEndFromName(const QString& name, FleetEnd* end);

// The end of a camera's update run as the fleet names it (both upload refusals are
// "upload-refused"; a run that could not start had nothing to send; both stops "stopped").
FleetEnd fleetEndOfRun(RunEnd end);

// What the window shows for an end: "File is NOT exist!" (no section),
// "MW_OpenPasswordDialog CamFileNone." (versions refused), and for the ends of a run the
// run's own message ("Start Err" when a file has no upload order, "VerUp Err", "UpdateNG",
// ...). Empty where nothing went wrong (up to date, nothing to send), for an unreachable
// camera (the window stays silent) and for a camera stopped or held back.
QString fleetEndMessage(FleetEnd end);

// The index in kComponents of a list-file key ("cam_cpu", ..., "eeprom_cam"); -1 if none.
int componentIndexOfKey(const QString& key);
// The list-file key of a component index.
QString componentKey(int component);

// Which components are sent.
struct PlanChoice {
    bool all = false;  // every component with a file; otherwise only those whose versions differ
    QSet<int> only;    // component indices; empty: no restriction
    // Never a component whose camera version is already the folder's, even with `all`: a
    // resumed update must not send a file again that went out before the interruption.
    bool skipCurrent = false;
    // Never these components: the camera took their files in the run a resumed update
    // carries on from, whether or not it reports their versions.
    QSet<int> takenBefore;
};

// Parses "--only" values ("cam_cpu,eeprom_cam", repeated options joined). Returns false
// with *error naming the first unknown key.
bool parseOnlyKeys(const QStringList& values, QSet<int>* components, QString* error);

// One model's reading of the folder: the section the window accepts and its nine files.
struct ModelFiles {
    bool accepted = false;
    QString section;
    vup_file_info set;  // DirPath, Model and the components' FileName, Version, Vupno
};

class FirmwareFolder
{
public:
    FirmwareFolder();
    ~FirmwareFolder();
    FirmwareFolder(const FirmwareFolder&) = delete;
    FirmwareFolder& operator=(const FirmwareFolder&) = delete;

    // Opens the folder: false with *error when it is missing, not a folder, unreadable,
    // or its list file is missing, not a regular file (a FIFO is never opened) or
    // unreadable. Nothing can be planned from such a folder.
    bool open(const QString& dirPath, QString* error);
    QString path() const { return m_path; }

    // The window's reading for a model identifier, made on first use and kept. An
    // identifier outside 1..12 is refused, as the window refuses it.
    const ModelFiles& model(int modelId);

    // The folder's SHA256SUMS as open() read it (absent: nothing is sealed).
    const FolderSums& sums() const { return m_sums; }
    // The SHA-256 of the list file as open() read it, lower-case hex.
    QString listSha256() const { return m_listSha256; }

    // The copy of a file of the folder (by its name in the list file), read on first use and
    // shared by every plan that holds it: read again only once no plan holds it any more.
    // Null with *error set when it cannot be read whole.
    std::shared_ptr<const FirmwareCopy> copy(const QString& fileName, QString* error);
    // How a file stands against SHA256SUMS, judged once per name from its copy.
    SumCheck sumCheck(const QString& fileName);
    // Files read so far (each once while it is held), and their bytes.
    int filesRead() const { return m_filesRead; }

private:
    QString m_path;
    std::unique_ptr<QSettings> m_settings;
    QHash<int, ModelFiles> m_models;
    FolderSums m_sums;
    QString m_listSha256;
    QHash<QString, SumCheck> m_sumChecks;
    QHash<QString, std::weak_ptr<const FirmwareCopy>> m_copies;
    int m_filesRead = 0;
};

struct PlannedFile {
    int component = -1;     // index in kComponents
    QString fileName;       // as the list file writes it
    QString version;        // the folder's
    qint32 vupno = 0;
    QString cameraVersion;  // what the camera reported before; empty when nothing
    // The copy judged for this file, which the camera's run sends (held until it is posted).
    std::shared_ptr<const FirmwareCopy> copy;
    qint64 size = -1;       // of the copy
    QString sha256;         // of the copy, lower-case hex
};

struct CameraPlan {
    bool valid = false;         // true: `files` would be sent, in this order
    FleetEnd end = FleetEnd::Completed;  // when not valid: why not
    QString message;            // when not valid: the window's text (fleetEndMessage)
    QString reason;             // when not valid: one line for the operator
    QString refusedFile;        // when a file to send is refused (unreadable, empty, by SHA256SUMS): its name
    QString section;            // the accepted section; empty when refused
    bool versionsAccepted = false;  // Execute's compatibility verdict (false also without a section)
    int refusedComponent = -1;  // the first refused component; -1 when none, or the model itself
    std::vector<PlannedFile> files;  // upload order
    vup_file_info set;          // for the run: DirPath, Model and the components, Select set;
                                // address and credential are the caller's
};

// Decides one camera's plan from its inquiry record. A file to send that cannot be read
// ends the plan as "file-unreadable", an empty one as "file-empty", and with a SHA256SUMS
// in the folder one it does not vouch for as "sum-refused", each naming the file. A
// resumed camera whose files asked for were all taken before has nothing left: its plan
// ends "completed" without a run. Writes the window's debug lines through qDebug.
CameraPlan planCamera(FirmwareFolder& folder, const cam_info& camera, const PlanChoice& choice);

// A plan refused for its folder: a file no camera may be sent (unreadable, empty, refused by
// SHA256SUMS). An update sends nothing at all then.
bool planRefusesFolder(const CameraPlan& plan);

#endif
