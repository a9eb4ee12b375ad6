#ifndef KELVORA_SIM_SIMPROFILES_H
#define KELVORA_SIM_SIMPROFILES_H

// What each simulated camera model reports: its model answer and the versions of its
// nine components, indexed by the digit of the version inquiry (QSV0..QSV8).

#include <array>
#include <string>

inline constexpr int kSimComponentCount = 9;

enum SimComponent {
    SIM_SERVO_CPU = 0,
    SIM_CAM_CPU = 1,
    SIM_FRONT_FPGA = 2,
    SIM_NETWORK_CPU = 3,
    SIM_BACKEND_FPGA = 4,
    SIM_INTERFACE_CPU = 5,
    SIM_LENS_FPGA = 6,
    SIM_INTERFACE_EEPROM = 7,
    SIM_CAM_EEPROM = 8,
};

// Firmware set component name of a QSV digit ("servo_cpu", "cam_cpu", ...); nullptr outside 0..8.
const char* simComponentName(int qsv);
// QSV digit of a component name; -1 when unknown.
int simComponentFromName(const std::string& name);

struct SimProfile {
    int modelId;
    const char* modelAnswer; // "OID:QV-TK10", "OID:QV-TK20" or "OID:QV-TK300"
    std::array<const char*, kSimComponentCount> versions;
};

// Profile of a model identifier 1..12; nullptr otherwise.
const SimProfile* simProfile(int modelId);

// Model identifier for any name modelIdFromName (camera/caminfo.h) takes ("TK300",
// "QV-TK300", "qv_new_tk20_h", ...) or a number 1..12; 0 when unknown, `why` then saying
// what is accepted.
int simModelFromText(const std::string& text, std::string* why = nullptr);

#endif
