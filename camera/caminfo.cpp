#include "camera/caminfo.h"

#include <array>

namespace {

struct ModelName {
    const char* name;
    const char* display;
};

constexpr std::array<ModelName, 13> kModelNames{{
    {"CAM_MODELID_NONE", "----"},
    {"CAM_MODELID_QV_TK10", "QV-TK10"},
    {"CAM_MODELID_QV_TKD7_S", "QV-TKD7S"},
    {"CAM_MODELID_QV_TKD7_H", "QV-TKD7H"},
    {"CAM_MODELID_QV_TK300", "QV-TK300"},
    {"CAM_MODELID_QV_OLD_TK20_S", "QV-TK20S"},
    {"CAM_MODELID_QV_OLD_TK20_H", "QV-TK20H"},
    {"CAM_MODELID_QV_NEW_TK20_S", "QV-TK20S"},
    {"CAM_MODELID_QV_NEW_TK20_H", "QV-TK20H"},
    {"CAM_MODELID_QV_OLD_TK15_S", "QV-TK15S"},
    {"CAM_MODELID_QV_OLD_TK15_H", "QV-TK15H"},
    {"CAM_MODELID_QV_NEW_TK15_S", "QV-TK15S"},
    {"CAM_MODELID_QV_NEW_TK15_H", "QV-TK15H"},
}};

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

int modelIdFromName(const QString& name)
{
    const QString full = name.startsWith(QLatin1String("CAM_MODELID_")) ? name : QLatin1String("CAM_MODELID_") + name;
    for (int id = kFirstModelId; id <= kLastModelId; ++id) {
        if (full == QLatin1String(kModelNames[static_cast<size_t>(id)].name))
            return id;
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
