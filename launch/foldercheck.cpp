#include "launch/foldercheck.h"

#include "common/nametable.h"

#include "camera/caminfo.h"
#include "firmware/listfile.h"
#include "launch/compat.h"
#include "update/runstate.h"
#include "update/uploadplan.h"
#include "update/uploadrequest.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSettings>

namespace {

constexpr kelvora::NameRow<ProblemKind> kKindNames[] = {
    {ProblemKind::ListFile, "list-file"},
    {ProblemKind::NoModelSection, "no-model-section"},
    {ProblemKind::CamCpu, "cam-cpu"},
    {ProblemKind::ModelRefused, "model-refused"},
    {ProblemKind::FileSection, "file-section"},
    {ProblemKind::FileOutside, "file-outside-folder"},
    {ProblemKind::FileMissing, "file-missing"},
    {ProblemKind::FileUnreadable, "file-unreadable"},
    {ProblemKind::FileEmpty, "file-empty"},
    {ProblemKind::Extension, "extension"},
    {ProblemKind::UploadForm, "upload-form"},
    {ProblemKind::VersionForm, "version-form"},
    {ProblemKind::VupnoMissing, "vupno-missing"},
    {ProblemKind::VupnoNotNumber, "vupno-not-number"},
    {ProblemKind::VupnoZero, "vupno-zero"},
    {ProblemKind::VupnoShared, "vupno-shared"},
    {ProblemKind::FileRepeated, "file-repeated"},
    {ProblemKind::VersionRefused, "version-refused"},
    {ProblemKind::SumsUnreadable, "sums-unreadable"},
    {ProblemKind::SumMissing, "sum-missing"},
    {ProblemKind::SumDiffers, "sum-differs"},
};

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString keyOf(int component)
{
    return QLatin1String(kComponents[static_cast<std::size_t>(component)].key);
}

// Every model section the tool knows, in the order of the models that try them.
QStringList knownSections()
{
    QStringList sections;
    for (int model = kFirstModelId; model <= kLastModelId; ++model) {
        for (const QString& section : modelSections(model).candidates) {
            if (!sections.contains(section))
                sections << section;
        }
    }
    return sections;
}

// The model that tries this section first: the one a folder's section is prepared for.
int ownerModel(const QString& section)
{
    for (int model = kFirstModelId; model <= kLastModelId; ++model) {
        const QStringList candidates = modelSections(model).candidates;
        if (!candidates.isEmpty() && candidates.first() == section)
            return model;
    }
    return 0;
}

std::vector<int> modelsTrying(const QString& section)
{
    std::vector<int> models;
    for (int model = kFirstModelId; model <= kLastModelId; ++model) {
        if (modelSections(model).candidates.contains(section))
            models.push_back(model);
    }
    return models;
}

// The version texts the compatibility table is written for; anything else is still
// compared as text by the tool, with surprising results.
bool wellFormedVersion(const QString& version)
{
    static const QRegularExpression form(QRegularExpression::anchoredPattern(QStringLiteral("V[0-9]{2}\\.[0-9]{2}")));
    return form.match(version).hasMatch();
}

class Checker
{
public:
    Checker(FolderCheck& result, QSettings& settings, const FolderSums& sums)
        : m_result(result), m_settings(settings), m_sums(sums) {}

    void checkSection(const QString& name, int compatModel, const std::vector<int>& formModels);

private:
    void add(const QString& section, int component, const QString& file, ProblemKind kind, const QString& message)
    {
        m_result.problems.push_back({section, component, file, kind, message});
    }
    void checkFileOnDisk(const QString& section, int component, const QString& name);
    bool checkFileReadable(const QString& section, int component, const QString& name);
    void checkFileSum(const QString& section, int component, const QString& name, bool readable);
    void checkFileSection(const QString& section, int component, const QString& name);
    void checkExtension(const QString& section, int component, const QString& name,
                        const std::vector<int>& formModels);

    FolderCheck& m_result;
    QSettings& m_settings;
    const FolderSums& m_sums;
    QHash<QString, SumCheck> m_sumChecks;  // by file name: a file shared by sections is read once
};

void Checker::checkSection(const QString& name, int compatModel, const std::vector<int>& formModels)
{
    CheckedSection checked;
    checked.name = name;
    checked.usable = modelSectionUsable(&m_settings, name);
    if (!checked.usable) {
        m_settings.beginGroup(name);
        const bool hasKey = m_settings.contains(keyOf(0));
        m_settings.endGroup();
        add(name, 0, QString(), ProblemKind::CamCpu,
            hasKey ? QStringLiteral("is \"NONE\", so the tool never chooses this section")
                   : QStringLiteral("missing, so the tool never chooses this section"));
        m_result.sections.push_back(checked);
        return;
    }
    checked.checkedModel = compatModel;

    vup_file_info set;
    m_settings.beginGroup(name);
    readComponentFiles(&m_settings, &set);

    // The tool's own plan with every file ticked. Each name is swapped for its component's
    // index, which the plan carries through its sort, so the order can be read back.
    vup_file_info tagged = set;
    for (int i = 0; i < kComponentCount; ++i) {
        file_info& f = tagged.*kComponents[static_cast<std::size_t>(i)].field;
        f.Select = f.FileName.isEmpty() ? RMOCAM_FALSE : RMOCAM_TRUE;
        f.FileName = QString::number(i);
    }
    int steps[kComponentCount] = {};
    sort_fileinfo plan;
    if (gatherUploadPlan(tagged, plan) == 0) {
        sortUploadPlan(plan);
        for (int k = 0; k < plan.MaxFileNum; ++k)
            steps[plan.files[static_cast<std::size_t>(k)].FileName.toInt()] = k + 1;
    }

    QHash<QString, int> firstNaming;  // file name -> component naming it first
    QHash<qint32, int> firstVupno;    // upload order number -> component holding it first
    for (int i = 0; i < kComponentCount; ++i) {
        const file_info& f = set.*kComponents[static_cast<std::size_t>(i)].field;
        if (f.FileName.isEmpty())
            continue;
        checked.components.push_back({i, f, steps[i]});

        const auto named = firstNaming.constFind(f.FileName);
        if (named != firstNaming.constEnd()) {
            add(name, i, f.FileName, ProblemKind::FileRepeated,
                QStringLiteral("also named for %1: the tool would upload it twice").arg(keyOf(*named)));
        } else {
            firstNaming.insert(f.FileName, i);
            checkFileOnDisk(name, i, f.FileName);
            checkExtension(name, i, f.FileName, formModels);
            checkFileSection(name, i, f.FileName);
            if (f.Vupno != 0) {
                const auto shared = firstVupno.constFind(f.Vupno);
                if (shared != firstVupno.constEnd()) {
                    const file_info& other = set.*kComponents[static_cast<std::size_t>(*shared)].field;
                    add(name, i, f.FileName, ProblemKind::VupnoShared,
                        QStringLiteral("vupno %1 is also that of %2 (%3): their upload order is not given")
                            .arg(f.Vupno).arg(keyOf(*shared), other.FileName));
                } else {
                    firstVupno.insert(f.Vupno, i);
                }
            }
        }
        if (compatModel != 0 && !versionAllowed(compatModel, i, f.Version)) {
            add(name, i, f.FileName, ProblemKind::VersionRefused,
                QStringLiteral("version %1 is refused for %2 (allowed: %3)")
                    .arg(quoted(f.Version), checkModelName(compatModel), allowedVersionsText(compatModel, i)));
        }
    }
    m_result.sections.push_back(checked);
}

void Checker::checkFileOnDisk(const QString& section, int component, const QString& name)
{
    if (!isFolderFileName(name)) {
        add(section, component, name, ProblemKind::FileOutside,
            QStringLiteral("leaves the folder: the tool refuses to send it"));
        return;
    }
    checkFileSum(section, component, name, checkFileReadable(section, component, name));
}

void Checker::checkFileSum(const QString& section, int component, const QString& name, bool readable)
{
    if (m_sums.state != FolderSums::Present)
        return;
    if (!m_sums.lists(name)) {
        add(section, component, name, ProblemKind::SumMissing,
            QStringLiteral("not listed in SHA256SUMS: the tool refuses to send it"));
        return;
    }
    // A file that is not there or cannot be opened has its finding already.
    if (!readable)
        return;
    auto judged = m_sumChecks.constFind(name);
    if (judged == m_sumChecks.constEnd())
        judged = m_sumChecks.insert(name, checkFolderFile(m_sums, m_result.folder, name));
    if (judged->verdict == SumVerdict::Differs)
        add(section, component, name, ProblemKind::SumDiffers,
            QStringLiteral("its bytes differ from its digest in SHA256SUMS: the tool refuses to send it"));
    else if (judged->verdict == SumVerdict::FileUnreadable)
        add(section, component, name, ProblemKind::FileUnreadable, judged->reason);
}

// True when the file is there and opens; a finding otherwise.
bool Checker::checkFileReadable(const QString& section, int component, const QString& name)
{
    // The path the upload opens, not a tidier one.
    const QString path = planFilePath(m_result.folder, name);
    const QFileInfo info(path);
    if (!info.exists()) {
        add(section, component, name, ProblemKind::FileMissing, QStringLiteral("does not exist in the folder"));
        return false;
    }
    if (!info.isFile()) {
        add(section, component, name, ProblemKind::FileUnreadable, QStringLiteral("is not a file"));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        add(section, component, name, ProblemKind::FileUnreadable,
            QStringLiteral("cannot be read: %1").arg(file.errorString()));
        return false;
    }
    if (file.size() == 0)
        add(section, component, name, ProblemKind::FileEmpty, QStringLiteral("is empty"));
    return true;
}

void Checker::checkExtension(const QString& section, int component, const QString& name,
                             const std::vector<int>& formModels)
{
    const QString extension = fileExtension(name);
    QStringList formless;
    for (int model : formModels) {
        if (chooseUploadForm(model, extension) == UploadForm::None)
            formless << checkModelName(model);
    }
    if (!formless.isEmpty()) {
        add(section, component, name, ProblemKind::UploadForm,
            QStringLiteral("extension %1: the tool has no upload form for it on %2 and would send nothing")
                .arg(quoted(extension), formless.join(QStringLiteral(", "))));
        return;
    }
    QString code;
    if (!fileTypeCode(extension, &code)) {
        add(section, component, name, ProblemKind::Extension,
            QStringLiteral("extension %1 has no type code: the camera would get none").arg(quoted(extension)));
    }
}

void Checker::checkFileSection(const QString& section, int component, const QString& name)
{
    const FileSection found = readFileSection(&m_settings, name);
    if (!found.present) {
        add(section, component, name, ProblemKind::FileSection,
            QStringLiteral("no [%1] section: no version and no vupno").arg(name));
        return;
    }
    if (!found.hasVersion)
        add(section, component, name, ProblemKind::VersionForm, QStringLiteral("no version"));
    else if (!wellFormedVersion(found.version))
        add(section, component, name, ProblemKind::VersionForm,
            QStringLiteral("version %1 is not of the form Vnn.nn").arg(quoted(found.version)));

    qint32 vupno = 0;
    if (!found.hasVupno)
        add(section, component, name, ProblemKind::VupnoMissing, QStringLiteral("no vupno: the tool refuses to upload it"));
    else if (parseVupno(found.vupno, &vupno) != 0)
        add(section, component, name, ProblemKind::VupnoNotNumber,
            QStringLiteral("vupno %1 is not a number: the tool refuses to upload it").arg(quoted(found.vupno)));
    else if (vupno == 0)
        add(section, component, name, ProblemKind::VupnoZero, QStringLiteral("vupno is 0: the tool refuses to upload it"));
}

// Empty when the list file can be opened; otherwise why not.
QString listFileError(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("does not exist: the tool refuses this folder for every model");
    if (!info.isFile())
        return QStringLiteral("is not a file: the tool refuses this folder for every model");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be read (%1): the tool refuses this folder for every model").arg(file.errorString());
    return {};
}

} // namespace

QString problemKindName(ProblemKind kind)
{
    return kelvora::nameOf(kKindNames, kind);
}

int FolderCheck::exitCode() const
{
    if (!readable)
        return 2;
    return problems.empty() ? 0 : 1;
}

namespace {

// The check, with the folder's SHA256SUMS or as if it had none (when a new one is written,
// the old one's verdicts are of no use and would read every file once more).
FolderCheck checkFolderWith(const QString& folder, int model, bool withSums)
{
    FolderCheck result;
    result.folder = folder;
    result.model = model;

    const QFileInfo dir(folder);
    if (folder.isEmpty())
        result.error = QStringLiteral("no folder given");
    else if (!dir.exists())
        result.error = QStringLiteral("does not exist");
    else if (!dir.isDir())
        result.error = QStringLiteral("is not a folder");
    else if (!dir.isReadable() || !dir.isExecutable())
        result.error = QStringLiteral("cannot be read");
    if (!result.error.isEmpty())
        return result;
    result.readable = true;
    result.listFile = listFilePath(folder);

    std::vector<int> models;
    if (model != 0)
        models.push_back(model);
    else
        for (int m = kFirstModelId; m <= kLastModelId; ++m)
            models.push_back(m);

    const QString listError = listFileError(result.listFile);
    if (!listError.isEmpty()) {
        result.problems.push_back({QString(), -1, QString(), ProblemKind::ListFile, listError});
        for (int m : models)
            result.choices.push_back({m, QString()});
        return result;
    }

    QSettings settings(result.listFile, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        result.problems.push_back({QString(), -1, QString(), ProblemKind::ListFile,
                                   QStringLiteral("has lines the reader cannot make sense of (a section header "
                                                  "without \"]\"?); the tool reads around them")});
    }

    for (int m : models) {
        QString accepted;
        if (searchModelSection(&settings, m, &accepted) == 0)
            settings.endGroup();
        result.choices.push_back({m, accepted});
    }

    const FolderSums sums = withSums ? readFolderSums(folder) : FolderSums();
    for (const SumsFinding& finding : sums.findings) {
        const QString where = finding.line > 0 ? QStringLiteral("line %1: ").arg(finding.line) : QString();
        result.problems.push_back({QString(), -1, QLatin1String(kSumsFileName), ProblemKind::SumsUnreadable,
                                   where + finding.text + QStringLiteral("; the tool refuses every file of this folder")});
    }

    const QStringList present = settings.childGroups();
    Checker checker(result, settings, sums);
    if (model == 0) {
        bool any = false;
        for (const QString& section : knownSections()) {
            if (!present.contains(section))
                continue;
            any = true;
            checker.checkSection(section, ownerModel(section), modelsTrying(section));
        }
        if (!any) {
            result.problems.push_back({QString(), -1, QString(), ProblemKind::NoModelSection,
                                       QStringLiteral("holds no model section: the tool refuses this folder for every model")});
        }
        return result;
    }

    // The walk the tool makes for this model: sections it skips on the way are shown with
    // their fault, the one it stops at is checked against this model.
    const QString chosen = result.choices.front().section;
    const QStringList candidates = modelSections(model).candidates;
    bool any = false;
    for (const QString& section : candidates) {
        if (!present.contains(section))
            continue;
        any = true;
        checker.checkSection(section, model, {model});
        if (section == chosen)
            break;
    }
    if (!any) {
        QStringList wanted;
        for (const QString& section : candidates)
            wanted << QLatin1Char('[') + section + QLatin1Char(']');
        result.problems.push_back({QString(), -1, QString(), ProblemKind::ModelRefused,
                                   QStringLiteral("no section for %1 (the tool looks for %2): it refuses this folder")
                                       .arg(checkModelName(model), wanted.join(QStringLiteral(", ")))});
    }
    return result;
}

} // namespace

FolderCheck checkFolder(const QString& folder, int model)
{
    return checkFolderWith(folder, model, true);
}

int SumsWrite::exitCode() const
{
    if (!readable || !error.isEmpty())
        return 2;
    return written.empty() ? 1 : 0;
}

SumsWrite writeSumsFor(const QString& folder)
{
    SumsWrite result;
    result.folder = folder;
    const FolderCheck check = checkFolderWith(folder, 0, false);
    result.readable = check.readable;
    if (!check.readable) {
        result.error = check.error;
        return result;
    }
    result.path = sumsFilePath(folder);
    QStringList names;
    for (const CheckedSection& section : check.sections) {
        for (const CheckedComponent& c : section.components) {
            if (!names.contains(c.file.FileName))
                names << c.file.FileName;
        }
    }
    names.sort();
    for (const CheckProblem& p : check.problems) {
        const bool unsealable = p.kind == ProblemKind::FileMissing || p.kind == ProblemKind::FileOutside
            || p.kind == ProblemKind::FileUnreadable || (names.isEmpty() && p.kind == ProblemKind::ListFile);
        if (unsealable)
            result.refusals.push_back(p);
    }
    if (names.isEmpty() && result.refusals.empty()) {
        result.refusals.push_back({QString(), -1, QString(), ProblemKind::NoModelSection,
                                   QStringLiteral("names no file in a section the tool can choose: nothing to list")});
    }
    if (!result.refusals.empty())
        return result;
    if (!writeFolderSums(folder, names, &result.written, &result.error))
        result.written.clear();
    return result;
}
