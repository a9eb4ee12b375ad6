#ifndef KELVORA_LAUNCH_COMPONENTVERSIONS_H
#define KELVORA_LAUNCH_COMPONENTVERSIONS_H

// Which version in the camera record belongs to which firmware component: the one place
// where the firmware set's components (firmware/records.h) meet the camera's answers
// (camera/caminfo.h). Used to tell whether a folder's file differs from what the camera
// runs, and to check the camera's versions after an update.

#include "camera/caminfo.h"
#include "firmware/records.h"

#include <array>
#include <cstddef>

// In kComponents order: cam_cpu, network_cpu, servo_cpu, interface_cpu, front_fpga,
// backend_fpga, lens_fpga, eeprom_cam (record member cam_eeprom), interface_eeprom.
inline constexpr std::array<QString cam_info::*, kComponentCount> kCameraVersionFields{{
    &cam_info::Ver_CameraCPU,
    &cam_info::Ver_NetworkCPU,
    &cam_info::Ver_PanTiltCPU,
    &cam_info::Ver_TK300_InterfaceCPU,
    &cam_info::Ver_CameraPLD,
    &cam_info::Ver_OutputFPGA,
    &cam_info::Ver_TK300_LensFPGA,
    &cam_info::Ver_CameraEEPROM,
    &cam_info::Ver_TK300_InterfaceEEPROM,
}};

// The version the camera reported for a component (index in kComponents); empty when it
// reported none.
inline const QString& cameraVersion(const cam_info& camera, int component)
{
    return camera.*kCameraVersionFields[static_cast<std::size_t>(component)];
}

#endif
