#include "sim/simprofiles.h"

#include "camera/caminfo.h"

#include <QString>

#include <cctype>

namespace {

constexpr std::array<const char*, kSimComponentCount> kComponentNames{{
    "servo_cpu", "cam_cpu", "front_fpga", "network_cpu", "backend_fpga",
    "interface_cpu", "lens_fpga", "interface_eeprom", "cam_eeprom",
}};

// Initial versions lie inside each model's compatibility ranges and differ from the
// sample firmware set, so an update shows. Camera CPU and output FPGA decide the model.
//                        servo     cam       front     network   backend   if_cpu    lens      if_eep    cam_eep
const std::array<SimProfile, 12> kProfiles{{
    {CAM_MODELID_QV_TK10, "OID:QV-TK10",
     {{"V01.10", "V01.20", "V01.10", "V01.30", "V01.10", "V01.00", "V01.00", "V03.10", "V01.00"}}},
    {CAM_MODELID_QV_TKD7_S, "OID:QV-TK10",
     {{"V01.10", "V02.10", "V01.12", "V01.30", "V01.32", "V01.00", "V01.00", "V01.00", "V01.00"}}},
    {CAM_MODELID_QV_TKD7_H, "OID:QV-TK10",
     {{"V01.10", "V02.10", "V01.12", "V01.30", "V01.60", "V01.00", "V01.00", "V01.00", "V01.00"}}},
    {CAM_MODELID_QV_TK300, "OID:QV-TK300",
     {{"V01.10", "V01.40", "V01.00", "V02.10", "V01.00", "V01.20", "V01.05", "V01.00", "V01.00"}}},
    {CAM_MODELID_QV_OLD_TK20_S, "OID:QV-TK20",
     {{"V01.10", "V03.20", "V01.50", "V04.10", "V01.35", "V01.00", "V01.00", "V03.10", "V01.00"}}},
    {CAM_MODELID_QV_OLD_TK20_H, "OID:QV-TK20",
     {{"V01.10", "V03.20", "V01.50", "V04.10", "V01.60", "V01.00", "V01.00", "V03.10", "V01.00"}}},
    {CAM_MODELID_QV_NEW_TK20_S, "OID:QV-TK20",
     {{"V01.10", "V03.60", "V03.50", "V05.10", "V01.35", "V01.00", "V01.00", "V03.10", "V01.00"}}},
    {CAM_MODELID_QV_NEW_TK20_H, "OID:QV-TK20",
     {{"V01.10", "V03.60", "V03.50", "V05.10", "V01.60", "V01.00", "V01.00", "V03.10", "V01.00"}}},
    {CAM_MODELID_QV_OLD_TK15_S, "OID:QV-TK20",
     {{"V01.10", "V04.10", "V01.50", "V06.10", "V01.35", "V01.00", "V01.00", "V04.10", "V01.00"}}},
    {CAM_MODELID_QV_OLD_TK15_H, "OID:QV-TK20",
     {{"V01.10", "V04.10", "V01.50", "V06.10", "V01.60", "V01.00", "V01.00", "V04.10", "V01.00"}}},
    {CAM_MODELID_QV_NEW_TK15_S, "OID:QV-TK20",
     {{"V01.10", "V04.60", "V02.20", "V06.30", "V01.32", "V01.00", "V01.00", "V04.30", "V01.00"}}},
    {CAM_MODELID_QV_NEW_TK15_H, "OID:QV-TK20",
     {{"V01.10", "V04.80", "V03.10", "V07.10", "V01.80", "V01.00", "V01.00", "V04.50", "V01.00"}}},
}};

} // namespace

const char* simComponentName(int qsv)
{
    if (qsv < 0 || qsv >= kSimComponentCount)
        return nullptr;
    return kComponentNames[static_cast<size_t>(qsv)];
}

int simComponentFromName(const std::string& name)
{
    for (int i = 0; i < kSimComponentCount; ++i) {
        if (name == kComponentNames[static_cast<size_t>(i)])
            return i;
    }
    return -1;
}

const SimProfile* simProfile(int modelId)
{
    if (!isValidModelId(modelId))
        return nullptr;
    return &kProfiles[static_cast<size_t>(modelId - kFirstModelId)];
}

int simModelFromText(const std::string& text, std::string* why)
{
    if (!text.empty() && text.size() <= 2
        && std::isdigit(static_cast<unsigned char>(text[0])) && std::isdigit(static_cast<unsigned char>(text.back()))) {
        const int id = std::stoi(text);
        if (!isValidModelId(id) && why)
            *why = "no model has the number " + text + " (1 to 12)";
        return isValidModelId(id) ? id : CAM_MODELID_NONE;
    }
    QString refused;
    const int id = modelIdFromName(QString::fromStdString(text), &refused);
    if (!id && why)
        *why = refused.toStdString() + " (or a model's number, 1 to 12)";
    return id;
}
