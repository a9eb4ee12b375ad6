#ifndef KELVORA_CAMERA_CAMINFO_H
#define KELVORA_CAMERA_CAMINFO_H

// The connected camera: its model identifier and the versions its nine components
// reported, and the table that turns the model answer and two versions into a model.

#include <QString>

enum CamModelId {
    CAM_MODELID_NONE = 0,
    CAM_MODELID_QV_TK10 = 1,
    CAM_MODELID_QV_TKD7_S = 2,
    CAM_MODELID_QV_TKD7_H = 3,
    CAM_MODELID_QV_TK300 = 4,
    CAM_MODELID_QV_OLD_TK20_S = 5,
    CAM_MODELID_QV_OLD_TK20_H = 6,
    CAM_MODELID_QV_NEW_TK20_S = 7,
    CAM_MODELID_QV_NEW_TK20_H = 8,
    CAM_MODELID_QV_OLD_TK15_S = 9,
    CAM_MODELID_QV_OLD_TK15_H = 10,
    CAM_MODELID_QV_NEW_TK15_S = 11,
    CAM_MODELID_QV_NEW_TK15_H = 12,
};

inline constexpr int kFirstModelId = CAM_MODELID_QV_TK10;
inline constexpr int kLastModelId = CAM_MODELID_QV_NEW_TK15_H;

inline constexpr bool isValidModelId(int id) { return id >= kFirstModelId && id <= kLastModelId; }
// TK10 and both TKD7 variants share the older upload form and reply marker.
inline constexpr bool isTkd7Family(int id) { return id >= CAM_MODELID_QV_TK10 && id <= CAM_MODELID_QV_TKD7_H; }

// The camera's answer to the model inquiry, as kept in mw_Qid.
enum CamQid {
    CAM_QID_NONE = 0,
    CAM_QID_TK10 = 1,
    CAM_QID_TK20 = 2,
    CAM_QID_TK300 = 3,
};

struct cam_info {
    int ModelID = CAM_MODELID_NONE;
    QString Ver_PanTiltCPU;
    QString Ver_CameraCPU;
    QString Ver_CameraPLD;
    QString Ver_NetworkCPU;
    QString Ver_OutputFPGA;
    QString Ver_TK300_InterfaceCPU;
    QString Ver_TK300_LensFPGA;
    QString Ver_TK300_InterfaceEEPROM;
    QString Ver_CameraEEPROM;
};

void resetCamInfo(cam_info& info);

// "CAM_MODELID_QV_TK10" etc.; empty for a value outside 0..12.
QString modelIdName(int id);
// Name shown in the window: "QV-TK20S" for both TK20 S generations, "----" for none.
QString modelDisplayName(int id);
// "QV_OLD_TK20_S": the identifier's name without its "CAM_MODELID_" prefix, exact where
// display names are not. The command-line programs name models this way.
QString checkModelName(int id);
// The one reader of a model's name, for every program that takes one: whatever spelling a
// program prints is accepted back. The window's "QV-TK300" and "QV-TKD7S", the command-line
// programs' "QV_TK300", the identifier "CAM_MODELID_QV_TK300" (JSON, the debug trace), the
// simulator's "TK300" and "OLD_TK20_S", a model's own list file section ("TK300",
// "TK20S_OLDFPGA"); in any case, '-' and '_' alike. CAM_MODELID_NONE for a name of no model,
// and for the window's "QV-TK20S" (and H, and TK15's), which is both FPGA generations: `why`
// then says so, naming what is accepted.
int modelIdFromName(const QString& name, QString* why = nullptr);

struct ModelIdentification {
    int modelId = CAM_MODELID_NONE;
    // The debug tag: the identifier's name, or "CAM_MODELID_NONE1".."CAM_MODELID_NONE6".
    QString tag;
};

// Decides the model from the model answer (mw_Qid), the camera CPU version and the
// output FPGA version. Versions are compared as text; no number is parsed from them.
ModelIdentification identifyModel(int qid, const QString& cameraCpu, const QString& outputFpga);

// Closed text range [low, high] in Qt's string ordering.
inline bool versionInRange(const QString& v, const char* low, const char* high)
{
    return QString::fromLatin1(low) <= v && v <= QString::fromLatin1(high);
}

#endif
