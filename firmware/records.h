#ifndef KELVORA_FIRMWARE_RECORDS_H
#define KELVORA_FIRMWARE_RECORDS_H

// A firmware set: the chosen folder, the camera address and credential, the model the
// folder was accepted for, and one file per updatable camera component. Plain values,
// copied member by member at every hand-over between the tool's stages.

#include <QString>
#include <QtGlobal>

#include <array>

#define RMOCAM_TRUE 1
#define RMOCAM_FALSE 0

struct file_info {
    QString FileName;   // bare name inside the folder, as the list file writes it
    QString Version;    // e.g. "V01.10", compared as text
    qint32 Vupno = 0;   // upload order; 0 means "no order given"
    qint32 Select = RMOCAM_FALSE;
};

struct vup_file_info {
    QString DirPath;
    QString Base64;
    QString CamIPAddress;
    qint32 Model = 0;
    file_info cam_cpu;
    file_info network_cpu;
    file_info servo_cpu;
    file_info interface_cpu;
    file_info front_fpga;
    file_info backend_fpga;
    file_info lens_fpga;
    file_info cam_eeprom;
    file_info interface_eeprom;
};

// The nine components in their fixed order: list-file reading, tick copying, plan
// building (and its tie-break) and the firmware grid all walk this table.
struct Component {
    const char* member;    // record member name, used in debug lines
    const char* key;       // key in the list file's model section
    const char* checkBox;  // object name of the component's check box
    file_info vup_file_info::*field;
};

inline constexpr int kComponentCount = 9;

inline constexpr std::array<Component, kComponentCount> kComponents{{
    {"cam_cpu", "cam_cpu", "VERUP_CUP_CamMain_checkBox", &vup_file_info::cam_cpu},
    {"network_cpu", "network_cpu", "VERUP_CPU_NetworkSoft_checkBox", &vup_file_info::network_cpu},
    {"servo_cpu", "servo_cpu", "VERUP_CPU_Servo_checkBox", &vup_file_info::servo_cpu},
    {"interface_cpu", "interface_cpu", "VERUP_CPU_Interface_checkBox", &vup_file_info::interface_cpu},
    {"front_fpga", "front_fpga", "VERUP_FPGA_Front_checkBox", &vup_file_info::front_fpga},
    {"backend_fpga", "backend_fpga", "VERUP_FPGA_Backend_checkBox", &vup_file_info::backend_fpga},
    {"lens_fpga", "lens_fpga", "VERUP_FPGA_Lens_checkBox", &vup_file_info::lens_fpga},
    {"cam_eeprom", "eeprom_cam", "VERUP_EEPROM_CamMain_checkBox", &vup_file_info::cam_eeprom},
    {"interface_eeprom", "interface_eeprom", "VERUP_EEPROM_Interface_checkBox", &vup_file_info::interface_eeprom},
}};

// Empties every string and zeroes every number of the set (all nine components).
void resetVupFileInfo(vup_file_info& info);

#endif
