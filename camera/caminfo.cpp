#include "camera/caminfo.h"

#include <QList>
#include <QStringList>

#include <array>

namespace {

struct ModelName {
    const char* name;
    const char* display;
    // The model's own section of a list file (firmware/listfile.cpp tries it first).
    const char* section;
};

constexpr std::array<ModelName, 13> kModelNames{{
    {"CAM_MODELID_NONE", "----", nullptr},
    {"CAM_MODELID_QV_TK10", "QV-TK10", "TK10"},
    {"CAM_MODELID_QV_TKD7_S", "QV-TKD7S", "TKD7_S"},
    {"CAM_MODELID_QV_TKD7_H", "QV-TKD7H", "TKD7_H"},
    {"CAM_MODELID_QV_TK300", "QV-TK300", "TK300"},
    {"CAM_MODELID_QV_OLD_TK20_S", "QV-TK20S", "TK20S_OLDFPGA"},
    {"CAM_MODELID_QV_OLD_TK20_H", "QV-TK20H", "TK20H_OLDFPGA"},
    {"CAM_MODELID_QV_NEW_TK20_S", "QV-TK20S", "TK20S_NEWFPGA"},
    {"CAM_MODELID_QV_NEW_TK20_H", "QV-TK20H", "TK20H_NEWFPGA"},
    {"CAM_MODELID_QV_OLD_TK15_S", "QV-TK15S", "TK15S_OLDFPGA"},
    {"CAM_MODELID_QV_OLD_TK15_H", "QV-TK15H", "TK15H_OLDFPGA"},
    {"CAM_MODELID_QV_NEW_TK15_S", "QV-TK15S", "TK15S_NEWFPGA"},
    {"CAM_MODELID_QV_NEW_TK15_H", "QV-TK15H", "TK15H_NEWFPGA"},
}};

// A name reduced to what tells models apart: upper case, '-' as '_', and without the
// prefixes one program prints and another leaves off. "qv-tkd7s", "CAM_MODELID_QV_TKD7_S"
// and "TKD7_S" become "TKD7S" and "TKD7_S", which the table's own names reduce to as well.
QString nameKey(const QString& name)
{
    QString key = name.trimmed().toUpper().replace(QLatin1Char('-'), QLatin1Char('_'));
    for (const char* prefix : {"CAM_MODELID_", "QV_"}) {
        if (key.startsWith(QLatin1String(prefix)))
            key.remove(0, int(qstrlen(prefix)));
    }
    return key;
}

// The identifiers a name fits: one, none, or both generations of a TK20 or TK15 variant for
// the window's name, which does not tell them apart.
QList<int> modelsNamed(const QString& name)
{
    const QString key = nameKey(name);
    QList<int> found;
    if (key.isEmpty())
        return found;
    for (int id = kFirstModelId; id <= kLastModelId; ++id) {
        const ModelName& m = kModelNames[static_cast<size_t>(id)];
        for (const char* spelling : {m.name, m.display, m.section}) {
            if (nameKey(QLatin1String(spelling)) == key) {
                found << id;
                break;
            }
        }
    }
    return found;
}

// Output FPGA variant ranges shared by TK15 and TK20 (wider than TKD7's).
bool isTk15Tk20S(const QString& o)
{
    return versionInRange(o, "V01.30", "V01.39") || versionInRange(o, "V01.40", "V01.49");
}
bool isTk15Tk20H(const QString& o)
{
    return versionInRange(o, "V01.50", "V01.69") || versionInRange(o, "V01.70", "V01.99");
}

ModelIdentification byVariant(const QString& o, int s, int h, const char* noneTag)
{
    if (isTk15Tk20S(o))
        return {s, modelIdName(s)};
    if (isTk15Tk20H(o))
        return {h, modelIdName(h)};
    return {CAM_MODELID_NONE, QString::fromLatin1(noneTag)};
}

} // namespace

void resetCamInfo(cam_info& info)
{
    info = cam_info{};
}

QString modelIdName(int id)
{
    if (id < 0 || id > kLastModelId)
        return {};
    return QString::fromLatin1(kModelNames[static_cast<size_t>(id)].name);
}

QString modelDisplayName(int id)
{
    if (!isValidModelId(id))
        id = CAM_MODELID_NONE;
    return QString::fromLatin1(kModelNames[static_cast<size_t>(id)].display);
}

QString checkModelName(int id)
{
    static const QString prefix = QStringLiteral("CAM_MODELID_");
    const QString name = modelIdName(id);
    return name.startsWith(prefix) ? name.mid(prefix.size()) : name;
}

int modelIdFromName(const QString& name, QString* why)
{
    const QList<int> found = modelsNamed(name);
    if (found.size() == 1)
        return found.first();
    if (why && found.isEmpty()) {
        QStringList names;
        for (int id = kFirstModelId; id <= kLastModelId; ++id)
            names << checkModelName(id);
        *why = QStringLiteral("unknown model \"%1\"; the models are %2 and %3, in any case, with - for _, without QV_ "
                              "(TK300) or with CAM_MODELID_ in front, as the window shows them (QV-TKD7S) or as "
                              "their list file sections (TK20S_OLDFPGA)")
                   .arg(name, names.mid(0, names.size() - 1).join(QStringLiteral(", ")), names.last());
    } else if (why) {
        QStringList names;
        for (int id : found)
            names << checkModelName(id);
        *why = QStringLiteral("\"%1\" names %2 alike: give one of them").arg(name, names.join(QStringLiteral(" and ")));
    }
    return CAM_MODELID_NONE;
}

ModelIdentification identifyModel(int qid, const QString& c, const QString& o)
{
    if (qid == CAM_QID_TK300)
        return {CAM_MODELID_QV_TK300, modelIdName(CAM_MODELID_QV_TK300)};
    if (versionInRange(c, "V01.00", "V01.99"))
        return {CAM_MODELID_QV_TK10, modelIdName(CAM_MODELID_QV_TK10)};
    if (versionInRange(c, "V02.00", "V02.99")) {
        // TKD7 knows narrower variant ranges than TK15/TK20.
        if (versionInRange(o, "V01.30", "V01.39"))
            return {CAM_MODELID_QV_TKD7_S, modelIdName(CAM_MODELID_QV_TKD7_S)};
        if (versionInRange(o, "V01.50", "V01.69"))
            return {CAM_MODELID_QV_TKD7_H, modelIdName(CAM_MODELID_QV_TKD7_H)};
        return {CAM_MODELID_NONE, QStringLiteral("CAM_MODELID_NONE1")};
    }
    if (versionInRange(c, "V04.02", "V04.49") || c == QLatin1String("V04.00"))
        return byVariant(o, CAM_MODELID_QV_OLD_TK15_S, CAM_MODELID_QV_OLD_TK15_H, "CAM_MODELID_NONE2");
    if (versionInRange(c, "V04.50", "V04.99") || c == QLatin1String("V04.01"))
        return byVariant(o, CAM_MODELID_QV_NEW_TK15_S, CAM_MODELID_QV_NEW_TK15_H, "CAM_MODELID_NONE3");
    if (versionInRange(c, "V03.00", "V03.49"))
        return byVariant(o, CAM_MODELID_QV_OLD_TK20_S, CAM_MODELID_QV_OLD_TK20_H, "CAM_MODELID_NONE4");
    if (versionInRange(c, "V03.50", "V03.99"))
        return byVariant(o, CAM_MODELID_QV_NEW_TK20_S, CAM_MODELID_QV_NEW_TK20_H, "CAM_MODELID_NONE5");
    return {CAM_MODELID_NONE, QStringLiteral("CAM_MODELID_NONE6")};
}
