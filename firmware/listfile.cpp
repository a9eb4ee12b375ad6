#include "firmware/listfile.h"

#include "common/debuglog.h"
#include "camera/caminfo.h"

#include <QSettings>
#include <QVariant>

using kelvora::dbgLine;
using kelvora::dbgValue;

namespace {

const QString kCamCpuKey = QStringLiteral("cam_cpu");
const QString kNone = QStringLiteral("NONE");

struct ModelRow {
    int modelId;
    const char* candidates[3];  // unused places are null
    const char* successLine;
};

const ModelRow kModelRows[] = {
    {CAM_MODELID_QV_TK10, {"TK10", "TKD7_S", "TKD7_H"}, "■DEBUG■ TK10FileOpenOK"},
    {CAM_MODELID_QV_TKD7_S, {"TKD7_S", "TK10", nullptr}, "■DEBUG■ CAM_MODELID_QV_TKD7_S FileOpenOK"},
    {CAM_MODELID_QV_TKD7_H, {"TKD7_H", "TK10", nullptr}, "■DEBUG■ CAM_MODELID_QV_TKD7_H FileOpenOK"},
    {CAM_MODELID_QV_TK300, {"TK300", nullptr, nullptr}, "■DEBUG■ CAM_MODELID_QV_TK300 FileOpenOK"},
    {CAM_MODELID_QV_OLD_TK20_S, {"TK20S_OLDFPGA", nullptr, nullptr}, "■DEBUG■ CAM_MODELID_QV_OLD_TK20_S FileOpenOK"},
    {CAM_MODELID_QV_OLD_TK20_H, {"TK20H_OLDFPGA", nullptr, nullptr}, "■DEBUG■ CAM_MODELID_QV_OLD_TK20_H FileOpenOK"},
    {CAM_MODELID_QV_NEW_TK20_S, {"TK20S_NEWFPGA", nullptr, nullptr}, "■DEBUG■ CAM_MODELID_QV_NEW_TK20_S FileOpenOK"},
    {CAM_MODELID_QV_NEW_TK20_H, {"TK20H_NEWFPGA", nullptr, nullptr}, "■DEBUG■ CAM_MODELID_QV_NEW_TK20_H FileOpenOK"},
    {CAM_MODELID_QV_OLD_TK15_S, {"TK15S_OLDFPGA", nullptr, nullptr}, "■DEBUG■ OLD_TK15_S FileOpenOK"},
    {CAM_MODELID_QV_OLD_TK15_H, {"TK15H_OLDFPGA", nullptr, nullptr}, "■DEBUG■ CAM_MODELID_QV_OLD_TK15_H FileOpenOK"},
    {CAM_MODELID_QV_NEW_TK15_S, {"TK15S_NEWFPGA", nullptr, nullptr}, "■DEBUG■ CAM_MODELID_QV_NEW_TK15_S FileOpenOK"},
    {CAM_MODELID_QV_NEW_TK15_H, {"TK15H_NEWFPGA", nullptr, nullptr}, "■DEBUG■ CAM_MODELID_QV_NEW_TK15_H FileOpenOK"},
};

QString readText(QSettings* settings, const QString& key, const QString& defaultText)
{
    return listValueText(settings->value(key, defaultText));
}

} // namespace

QString listFilePath(const QString& dirPath)
{
    return dirPath + QLatin1Char('/') + QLatin1String(kListFileName);
}

ModelSections modelSections(int modelId)
{
    for (const ModelRow& row : kModelRows) {
        if (row.modelId != modelId)
            continue;
        ModelSections sections;
        for (const char* name : row.candidates) {
            if (name)
                sections.candidates << QLatin1String(name);
        }
        sections.successLine = QString::fromUtf8(row.successLine);
        return sections;
    }
    return {};
}

QString listValueText(const QVariant& value)
{
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

int parseVupno(const QString& text, qint32* vupno)
{
    bool ok = false;
    const int number = text.toInt(&ok, 10);
    *vupno = ok ? number : 0;
    return ok ? 0 : 1;
}

bool modelSectionUsable(QSettings* settings, const QString& section)
{
    settings->beginGroup(section);
    const bool usable = readText(settings, kCamCpuKey, kNone) != kNone;
    settings->endGroup();
    return usable;
}

int searchModelSection(QSettings* settings, int modelId, QString* acceptedSection)
{
    dbgLine("■DEBUG■mw_SearchFileModel");
    dbgValue(modelId);

    const ModelSections sections = modelSections(modelId);
    if (sections.candidates.isEmpty()) {
        dbgLine("■DEBUG■ ERR_RTN_NG1");
        return 1;
    }
    if (!settings)
        return 1;

    // Only the TK10 walk, which may fall back to either TKD7 variant, traces each try.
    const bool traceTries = modelId == CAM_MODELID_QV_TK10;
    for (int i = 0; i < sections.candidates.size(); ++i) {
        const QString& section = sections.candidates[i];
        if (traceTries)
            dbgValue(section);
        if (modelSectionUsable(settings, section)) {
            settings->beginGroup(section);
            if (acceptedSection)
                *acceptedSection = section;
            if (traceTries)
                dbgLine("FILEOK");
            dbgLine(sections.successLine);
            return 0;
        }
        if (traceTries) {
            dbgValue(i);
            dbgValue(section);
        }
    }
    return 1;
}

FileSection readFileSection(QSettings* settings, const QString& fileName)
{
    FileSection section;
    if (!settings)
        return section;
    const QString version = QStringLiteral("version");
    const QString vupno = QStringLiteral("vupno");
    // An empty name (a component without a file), or one the reader folds to nothing,
    // enters no section: the keys are then those of the top level.
    settings->beginGroup(fileName);
    section.present = !settings->childKeys().isEmpty();
    section.hasVersion = settings->contains(version);
    section.hasVupno = settings->contains(vupno);
    section.version = readText(settings, version, QString());
    section.vupno = readText(settings, vupno, QString());
    settings->endGroup();
    return section;
}

bool isFolderFileName(const QString& fileName)
{
    if (fileName.isEmpty() || fileName.startsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = fileName.split(QLatin1Char('/'));
    return !parts.contains(QStringLiteral(".."));
}

void readComponentFiles(QSettings* settings, vup_file_info* set)
{
    if (!settings || !set)
        return;

    for (const Component& c : kComponents)
        (set->*c.field).FileName = readText(settings, QLatin1String(c.key), QString());
    if (!settings->group().isEmpty())
        settings->endGroup();

    for (const Component& c : kComponents) {
        file_info& file = set->*c.field;
        const FileSection section = readFileSection(settings, file.FileName);
        file.Version = section.version;
        parseVupno(section.vupno, &file.Vupno);
        dbgLine(QStringLiteral("■DEBUG■mw_VupFileInfo.") + QLatin1String(c.member) + QStringLiteral(".Vupno"));
        dbgValue(int(file.Vupno));
    }
}
