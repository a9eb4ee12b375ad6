#include "fleet/fleetplan.h"

#include "common/nametable.h"
#include "common/sha256.h"

#include "firmware/listfile.h"
#include "launch/compat.h"
#include "launch/componentversions.h"
#include "update/firmwarefiles.h"
#include "update/runstate.h"
#include "update/uploadplan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <array>

namespace {

constexpr kelvora::NameRow<FleetEnd> kEndNames[] = {
    {FleetEnd::Completed, "completed"},
    {FleetEnd::UpToDate, "up-to-date"},
    {FleetEnd::Unreachable, "unreachable"},
    {FleetEnd::NoSection, "no-section"},
    {FleetEnd::VersionsRefused, "versions-refused"},
    {FleetEnd::NothingToSend, "nothing-to-send"},
    {FleetEnd::NoUploadOrder, "no-upload-order"},
    {FleetEnd::SumRefused, "sum-refused"},
    {FleetEnd::UploadFailed, "upload-failed"},
    {FleetEnd::UploadRefused, "upload-refused"},
    {FleetEnd::NoUploadReply, "no-upload-reply"},
    {FleetEnd::CameraNotBack, "camera-not-back"},
    {FleetEnd::VersionCheckFailed, "version-check-failed"},
    {FleetEnd::FileUnreadable, "file-unreadable"},
    {FleetEnd::FileEmpty, "file-empty"},
    {FleetEnd::Stopped, "stopped"},
    {FleetEnd::NotStarted, "not-started"},
    {FleetEnd::Pending, "pending"},
};

struct RunRow {
    RunEnd run;
    FleetEnd end;
};

// The first row of each fleet end gives its window text. A run that cannot start after its
// plan was accepted has met a file the plan could not foresee as unsendable.
constexpr std::array<RunRow, 11> kRunEnds{{
    {RunEnd::Completed, FleetEnd::Completed},
    {RunEnd::NotStarted, FleetEnd::NoUploadOrder},
    {RunEnd::UploadFailed, FleetEnd::UploadFailed},
    {RunEnd::UploadRefused, FleetEnd::UploadRefused},
    {RunEnd::NoUploadForm, FleetEnd::UploadRefused},
    {RunEnd::FileUnreadable, FleetEnd::FileUnreadable},
    {RunEnd::NoUploadReply, FleetEnd::NoUploadReply},
    {RunEnd::CameraNotBack, FleetEnd::CameraNotBack},
    {RunEnd::VersionCheckFailed, FleetEnd::VersionCheckFailed},
    {RunEnd::Stopped, FleetEnd::Stopped},
    {RunEnd::StoppedSending, FleetEnd::Stopped},
}};

QString runMessage(RunEnd end)
{
    for (const RunEndStep& step : runEndSteps(end)) {
        if (step.kind == RunEndStep::Message)
            return QString::fromUtf8(step.text);
    }
    return {};
}

void refuse(CameraPlan& plan, FleetEnd end, const QString& reason)
{
    plan.valid = false;
    plan.end = end;
    plan.message = fleetEndMessage(end);
    plan.reason = reason;
}

QString noSectionReason(int modelId)
{
    if (!isValidModelId(modelId))
        return QStringLiteral("the camera's model is unknown");
    QStringList wanted;
    for (const QString& section : modelSections(modelId).candidates)
        wanted << QLatin1Char('[') + section + QLatin1Char(']');
    return QStringLiteral("the list file has no usable section for %1 (looked for %2)")
        .arg(checkModelName(modelId), wanted.join(QStringLiteral(", ")));
}

} // namespace

QString fleetEndName(FleetEnd end)
{
    return kelvora::nameOf(kEndNames, end);
}

bool fleetEndFromName(const QString& name, FleetEnd* end)
{
    return kelvora::valueOfName(kEndNames, name, end);
}

FleetEnd fleetEndOfRun(RunEnd end)
{
    for (const RunRow& row : kRunEnds) {
        if (row.run == end)
            return row.end;
    }
    return FleetEnd::Stopped;
}

QString fleetEndMessage(FleetEnd end)
{
    // A stopped run tells its own message; a camera stopped before its run, none. Nothing
    // went wrong with a camera that has nothing to send.
    if (end == FleetEnd::Stopped || end == FleetEnd::NotStarted || end == FleetEnd::Pending
        || end == FleetEnd::UpToDate || end == FleetEnd::NothingToSend)
        return {};
    // The window ends a run on a file that fails its sum, or is empty, as on one it cannot open.
    if (end == FleetEnd::SumRefused || end == FleetEnd::FileEmpty)
        return fleetEndMessage(FleetEnd::FileUnreadable);
    if (end == FleetEnd::NoSection)
        return QStringLiteral("File is NOT exist!");
    if (end == FleetEnd::VersionsRefused)
        return QStringLiteral("MW_OpenPasswordDialog CamFileNone.");
    for (const RunRow& row : kRunEnds) {
        if (row.end == end)
            return runMessage(row.run);
    }
    return {};
}

bool planRefusesFolder(const CameraPlan& plan)
{
    return plan.end == FleetEnd::SumRefused || plan.end == FleetEnd::FileEmpty || plan.end == FleetEnd::FileUnreadable;
}

QString componentKey(int component)
{
    return QLatin1String(kComponents[std::size_t(component)].key);
}

int componentIndexOfKey(const QString& key)
{
    for (int i = 0; i < kComponentCount; ++i) {
        if (key == componentKey(i))
            return i;
    }
    return -1;
}

bool parseOnlyKeys(const QStringList& values, QSet<int>* components, QString* error)
{
    for (const QString& value : values) {
        for (const QString& key : value.split(QLatin1Char(','))) {
            const int component = componentIndexOfKey(key.trimmed());
            if (component < 0) {
                QStringList known;
                for (int i = 0; i < kComponentCount; ++i)
                    known << componentKey(i);
                *error = QStringLiteral("unknown component \"%1\" in --only; the keys are %2")
                             .arg(key.trimmed(), known.join(QStringLiteral(", ")));
                return false;
            }
            components->insert(component);
        }
    }
    return true;
}

FirmwareFolder::FirmwareFolder() = default;
FirmwareFolder::~FirmwareFolder() = default;

bool FirmwareFolder::open(const QString& dirPath, QString* error)
{
    m_models.clear();
    m_settings.reset();
    m_sums = FolderSums();
    m_listSha256.clear();
    m_sumChecks.clear();
    m_copies.clear();
    const QFileInfo dir(dirPath);
    const QFileInfo list(listFilePath(dirPath));
    if (dirPath.isEmpty())
        *error = QStringLiteral("no folder given");
    else if (!dir.exists())
        *error = QStringLiteral("does not exist");
    else if (!dir.isDir())
        *error = QStringLiteral("is not a folder");
    else if (!dir.isReadable() || !dir.isExecutable())
        *error = QStringLiteral("cannot be read");
    else if (!list.exists())
        *error = QStringLiteral("has no %1").arg(QLatin1String(kListFileName));
    // QSettings would wait forever on a FIFO: only a regular file is read.
    else if (!list.isFile())
        *error = QStringLiteral("%1 is not a regular file").arg(QLatin1String(kListFileName));
    else if (!list.isReadable())
        *error = QStringLiteral("%1 cannot be read").arg(QLatin1String(kListFileName));
    else
        error->clear();
    if (!error->isEmpty())
        return false;
    m_path = QDir::cleanPath(dir.absoluteFilePath());
    // The list file's digest: a resumed update refuses a folder whose list has changed since.
    QFile listFile(listFilePath(m_path));
    if (listFile.open(QIODevice::ReadOnly))
        m_listSha256 = QString::fromLatin1(kelvora::sha256(listFile.readAll()).toHex());
    m_settings = std::make_unique<QSettings>(listFilePath(m_path), QSettings::IniFormat);
    m_sums = readFolderSums(m_path);
    return true;
}

const ModelFiles& FirmwareFolder::model(int modelId)
{
    const auto held = m_models.constFind(modelId);
    if (held != m_models.constEnd())
        return held.value();
    ModelFiles files;
    files.set.DirPath = m_path;
    QString section;
    if (m_settings && searchModelSection(m_settings.get(), modelId, &section) == 0) {
        files.accepted = true;
        files.section = section;
        files.set.Model = modelId;
        readComponentFiles(m_settings.get(), &files.set);
    }
    return m_models.insert(modelId, files).value();
}

std::shared_ptr<const FirmwareCopy> FirmwareFolder::copy(const QString& fileName, QString* error)
{
    if (std::shared_ptr<const FirmwareCopy> held = m_copies.value(fileName).lock())
        return held;
    const QString path = planFilePath(m_path, fileName);
    const QFileInfo info(path);
    // A FIFO, a device or a folder would block the read or never end it.
    if (!info.exists()) {
        *error = QStringLiteral("does not exist");
        return nullptr;
    }
    if (!info.isFile()) {
        *error = QStringLiteral("is not a regular file");
        return nullptr;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return nullptr;
    }
    std::shared_ptr<const FirmwareCopy> read = FirmwareCopy::read(file, FirmwareCopy::defaultHolding(), error);
    if (!read)
        return nullptr;
    ++m_filesRead;
    m_copies.insert(fileName, read);
    return read;
}

SumCheck FirmwareFolder::sumCheck(const QString& fileName)
{
    if (m_sums.state == FolderSums::Absent)
        return {};
    const auto held = m_sumChecks.constFind(fileName);
    if (held != m_sumChecks.constEnd())
        return held.value();
    SumCheck check;
    if (m_sums.state == FolderSums::Unreadable || !m_sums.lists(fileName)) {
        check = judgeDigest(m_sums, fileName, QByteArray());
    } else {
        QString error;
        const std::shared_ptr<const FirmwareCopy> bytes = copy(fileName, &error);
        check = !bytes ? SumCheck{SumVerdict::FileUnreadable, QStringLiteral("cannot be read: %1").arg(error)}
                       : judgeDigest(m_sums, fileName, bytes->sha256());
    }
    m_sumChecks.insert(fileName, check);
    return check;
}

CameraPlan planCamera(FirmwareFolder& folder, const cam_info& camera, const PlanChoice& choice)
{
    CameraPlan plan;
    const ModelFiles& model = folder.model(camera.ModelID);
    if (!model.accepted) {
        refuse(plan, FleetEnd::NoSection, noSectionReason(camera.ModelID));
        return plan;
    }
    plan.section = model.section;
    plan.set = model.set;

    // Execute's check covers every component of the section, ticked or not.
    if (checkFileVersions(camera.ModelID, plan.set, &plan.refusedComponent) != 0) {
        const int c = plan.refusedComponent;
        refuse(plan, FleetEnd::VersionsRefused,
               c < 0 ? QStringLiteral("the model is refused")
                     : QStringLiteral("%1 version \"%2\" is not allowed for %3 (%4)")
                           .arg(componentKey(c), (plan.set.*kComponents[std::size_t(c)].field).Version,
                                checkModelName(camera.ModelID), allowedVersionsText(camera.ModelID, c)));
        return plan;
    }
    plan.versionsAccepted = true;

    // The ticks: a component with a file, asked for, and (unless all are asked for) whose
    // versions are both known and differ. A component asked for whose versions are both
    // known and equal is current.
    vup_file_info tagged = plan.set;
    int ticked = 0;
    int asked = 0;
    int current = 0;
    int taken = 0;
    for (int i = 0; i < kComponentCount; ++i) {
        file_info& f = plan.set.*kComponents[std::size_t(i)].field;
        const QString& running = cameraVersion(camera, i);
        const bool wanted = !f.FileName.isEmpty() && (choice.only.isEmpty() || choice.only.contains(i));
        const bool known = !running.isEmpty() && !f.Version.isEmpty();
        const bool same = known && running == f.Version;
        const bool takenBefore = choice.takenBefore.contains(i);
        const bool send = wanted && !takenBefore && (choice.all || (known && !same)) && !(choice.skipCurrent && same);
        asked += wanted ? 1 : 0;
        current += wanted && same ? 1 : 0;
        taken += wanted && takenBefore ? 1 : 0;
        f.Select = send ? RMOCAM_TRUE : RMOCAM_FALSE;
        ticked += send ? 1 : 0;
        // The run's own plan functions order the ticks; each name is swapped for its
        // component's index, which they carry through, to read the order back.
        file_info& t = tagged.*kComponents[std::size_t(i)].field;
        t.Select = f.Select;
        t.FileName = QString::number(i);
    }
    if (ticked == 0) {
        if (taken > 0)
            refuse(plan, FleetEnd::Completed, QStringLiteral("the camera took every file asked for in the earlier run"));
        else if (current > 0)
            refuse(plan, FleetEnd::UpToDate, QStringLiteral("the camera runs the folder's versions"));
        else if (asked == 0)
            refuse(plan, FleetEnd::NothingToSend, QStringLiteral("no component asked for has a file"));
        else
            refuse(plan, FleetEnd::NothingToSend,
                   QStringLiteral("the versions of the components asked for are not known on both sides (--all sends them)"));
        return plan;
    }

    sort_fileinfo order;
    if (gatherUploadPlan(tagged, order) != 0) {
        QString reason = QStringLiteral("the plan has no file to send");
        for (int i = 0; i < kComponentCount; ++i) {
            const file_info& f = plan.set.*kComponents[std::size_t(i)].field;
            if (f.Select == RMOCAM_TRUE && f.Vupno == 0) {
                reason = QStringLiteral("%1 (%2) has no upload order number (vupno)").arg(componentKey(i), f.FileName);
                break;
            }
        }
        refuse(plan, FleetEnd::NoUploadOrder, reason);
        return plan;
    }
    sortUploadPlan(order);

    for (int k = 0; k < order.MaxFileNum; ++k) {
        const int i = order.files[std::size_t(k)].FileName.toInt();
        const file_info& f = plan.set.*kComponents[std::size_t(i)].field;
        if (!isFolderFileName(f.FileName)) {
            plan.files.clear();
            refuse(plan, FleetEnd::FileUnreadable,
                   QStringLiteral("%1 names \"%2\", which is not inside the folder").arg(componentKey(i), f.FileName));
            plan.refusedFile = f.FileName;
            return plan;
        }
        PlannedFile planned;
        planned.component = i;
        planned.fileName = f.FileName;
        planned.version = f.Version;
        planned.vupno = f.Vupno;
        planned.cameraVersion = cameraVersion(camera, i);
        plan.files.push_back(planned);
    }
    // Each file as it will go: read now, and never again; not empty; and in a sealed folder
    // only what its SHA256SUMS vouches for.
    for (PlannedFile& f : plan.files) {
        QString error;
        f.copy = folder.copy(f.fileName, &error);
        const QString which = QStringLiteral("%1 (%2)").arg(f.fileName, componentKey(f.component));
        if (!f.copy || f.copy->size() == 0) {
            if (f.copy)
                refuse(plan, FleetEnd::FileEmpty, which + QStringLiteral(" is empty: no firmware image is"));
            else
                refuse(plan, FleetEnd::FileUnreadable, which + QStringLiteral(" cannot be read: ") + error);
            plan.refusedFile = f.fileName;
            plan.files.clear();
            return plan;
        }
        const SumCheck check = folder.sumCheck(f.fileName);
        if (!sumsAllowSending(check.verdict)) {
            refuse(plan, FleetEnd::SumRefused, QStringLiteral("SHA256SUMS refuses %1: %2").arg(which, check.reason));
            plan.refusedFile = f.fileName;
            plan.files.clear();
            return plan;
        }
        f.size = f.copy->size();
        f.sha256 = QString::fromLatin1(f.copy->sha256().toHex());
    }
    plan.valid = true;
    return plan;
}
