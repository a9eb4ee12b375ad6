#include "sim/samplefolder.h"

#include "camera/caminfo.h"
#include "sim/simprofiles.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>

namespace {

struct Entry {
    int model;
    int component;
    const char* stem; // files with the same stem, component and version are shared
    const char* ext;
    const char* version;
};

const std::array<const char*, 12> kSections{{
    "TK10", "TKD7_S", "TKD7_H", "TK300", "TK20S_OLDFPGA", "TK20H_OLDFPGA",
    "TK20S_NEWFPGA", "TK20H_NEWFPGA", "TK15S_OLDFPGA", "TK15H_OLDFPGA", "TK15S_NEWFPGA", "TK15H_NEWFPGA",
}};

// Model section keys, in the tool's component order.
const std::array<std::pair<int, const char*>, kSimComponentCount> kKeys{{
    {SIM_CAM_CPU, "cam_cpu"}, {SIM_NETWORK_CPU, "network_cpu"}, {SIM_SERVO_CPU, "servo_cpu"},
    {SIM_INTERFACE_CPU, "interface_cpu"}, {SIM_FRONT_FPGA, "front_fpga"}, {SIM_BACKEND_FPGA, "backend_fpga"},
    {SIM_LENS_FPGA, "lens_fpga"}, {SIM_CAM_EEPROM, "eeprom_cam"}, {SIM_INTERFACE_EEPROM, "interface_eeprom"},
}};

// Upload order: mechanics and FPGAs first, the network CPU (its restart is the longest) last.
int vupnoOf(int component)
{
    static const std::array<int, kSimComponentCount> order{{1, 6, 2, 9, 3, 5, 4, 7, 8}};
    return order[static_cast<std::size_t>(component)];
}

// Versions suit each model's compatibility ranges, keep it identifying as the same model
// after the update, and differ from the simulated camera's initial versions.
const Entry kEntries[] = {
    {CAM_MODELID_QV_TK10, SIM_SERVO_CPU, "tk10", "bin", "V01.15"},
    {CAM_MODELID_QV_TK10, SIM_FRONT_FPGA, "tk10", "bin", "V01.15"},
    {CAM_MODELID_QV_TK10, SIM_BACKEND_FPGA, "tk10", "bin", "V01.20"},
    {CAM_MODELID_QV_TK10, SIM_CAM_CPU, "tk10", "bin", "V01.25"},
    {CAM_MODELID_QV_TK10, SIM_NETWORK_CPU, "tk10", "img", "V01.35"},

    {CAM_MODELID_QV_TKD7_S, SIM_SERVO_CPU, "tkd7", "bin", "V01.20"},
    {CAM_MODELID_QV_TKD7_S, SIM_FRONT_FPGA, "tkd7", "bin", "V01.20"},
    {CAM_MODELID_QV_TKD7_S, SIM_BACKEND_FPGA, "tkd7s", "bin", "V01.35"},
    {CAM_MODELID_QV_TKD7_S, SIM_CAM_CPU, "tkd7", "bin", "V02.20"},
    {CAM_MODELID_QV_TKD7_S, SIM_NETWORK_CPU, "tkd7", "img", "V01.40"},
    // No output FPGA file for TKD7 H: its allowed range would turn it into an S.
    {CAM_MODELID_QV_TKD7_H, SIM_SERVO_CPU, "tkd7", "bin", "V01.20"},
    {CAM_MODELID_QV_TKD7_H, SIM_FRONT_FPGA, "tkd7", "bin", "V01.20"},
    {CAM_MODELID_QV_TKD7_H, SIM_CAM_CPU, "tkd7", "bin", "V02.20"},
    {CAM_MODELID_QV_TKD7_H, SIM_NETWORK_CPU, "tkd7", "img", "V01.40"},

    {CAM_MODELID_QV_TK300, SIM_SERVO_CPU, "qv", "spt", "V01.20"},
    {CAM_MODELID_QV_TK300, SIM_INTERFACE_CPU, "tk300", "sif", "V01.30"},
    {CAM_MODELID_QV_TK300, SIM_CAM_CPU, "tk300", "bin", "V01.50"},
    {CAM_MODELID_QV_TK300, SIM_INTERFACE_EEPROM, "tk300", "eep", "V01.10"},
    {CAM_MODELID_QV_TK300, SIM_CAM_EEPROM, "qv", "eep", "V01.10"},
    {CAM_MODELID_QV_TK300, SIM_NETWORK_CPU, "tk300", "img", "V02.20"},
};

struct Family {
    int s, h;
    const char* stem;
    const char* sStem;
    const char* hStem;
    const char* front;
    const char* backendS;
    const char* backendH;
    const char* cam;
    const char* ifEeprom;
    const char* ifStem;
    const char* network;
};

// TK20 and TK15: S and H share everything but the output FPGA file, except the new TK15
// whose S and H differ in their ranges altogether.
const Family kFamilies[] = {
    {CAM_MODELID_QV_OLD_TK20_S, CAM_MODELID_QV_OLD_TK20_H, "tk20old", "tk20old_s", "tk20old_h",
     "V02.00", "V01.40", "V01.70", "V03.30", "V03.20", "tk20", "V04.20"},
    {CAM_MODELID_QV_NEW_TK20_S, CAM_MODELID_QV_NEW_TK20_H, "tk20new", "tk20new_s", "tk20new_h",
     "V04.00", "V01.45", "V01.75", "V03.70", "V03.20", "tk20", "V05.20"},
    {CAM_MODELID_QV_OLD_TK15_S, CAM_MODELID_QV_OLD_TK15_H, "tk15old", "tk15old_s", "tk15old_h",
     "V02.10", "V01.40", "V01.70", "V04.20", "V04.20", "tk15old", "V06.20"},
};

std::vector<Entry> entriesFor(int model)
{
    std::vector<Entry> out;
    for (const Entry& e : kEntries) {
        if (e.model == model)
            out.push_back(e);
    }
    for (const Family& f : kFamilies) {
        if (model != f.s && model != f.h)
            continue;
        out.push_back({model, SIM_SERVO_CPU, "qv", "spt", "V01.20"});
        out.push_back({model, SIM_FRONT_FPGA, f.stem, "ffe", f.front});
        out.push_back(model == f.s ? Entry{model, SIM_BACKEND_FPGA, f.sStem, "fbe", f.backendS}
                                   : Entry{model, SIM_BACKEND_FPGA, f.hStem, "fbe", f.backendH});
        out.push_back({model, SIM_CAM_CPU, f.stem, "scm", f.cam});
        out.push_back({model, SIM_INTERFACE_EEPROM, f.ifStem, "eep", f.ifEeprom});
        out.push_back({model, SIM_CAM_EEPROM, "qv", "eep", "V01.10"});
        out.push_back({model, SIM_NETWORK_CPU, f.stem, "snw", f.network});
    }
    if (model == CAM_MODELID_QV_NEW_TK15_S || model == CAM_MODELID_QV_NEW_TK15_H) {
        const bool s = model == CAM_MODELID_QV_NEW_TK15_S;
        const char* stem = s ? "tk15new_s" : "tk15new_h";
        out.push_back({model, SIM_SERVO_CPU, "qv", "spt", "V01.20"});
        out.push_back({model, SIM_FRONT_FPGA, stem, "ffe", s ? "V02.30" : "V03.20"});
        out.push_back({model, SIM_BACKEND_FPGA, stem, "fbe", s ? "V01.42" : "V01.85"});
        out.push_back({model, SIM_CAM_CPU, stem, "scm", s ? "V04.70" : "V04.90"});
        out.push_back({model, SIM_INTERFACE_EEPROM, stem, "eep", s ? "V04.40" : "V04.60"});
        out.push_back({model, SIM_CAM_EEPROM, "qv", "eep", "V01.10"});
        out.push_back({model, SIM_NETWORK_CPU, stem, "snw", s ? "V06.40" : "V07.20"});
    }
    return out;
}

std::string fileNameOf(const Entry& e)
{
    std::string v = e.version; // "V01.25" -> "V0125"
    v.erase(std::remove(v.begin(), v.end(), '.'), v.end());
    return std::string(e.stem) + "_" + simComponentName(e.component) + "_" + v + "." + e.ext;
}

bool writeFirmware(const std::filesystem::path& path, const SampleFile& f, const SampleOptions& options)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (options.withHeader)
        out << simFirmwareHeader(simComponentName(f.component), f.version);
    // Every byte value occurs, CR, LF and NUL included; seeded by the name so the set is reproducible.
    std::uint32_t x = 2166136261u;
    for (unsigned char c : f.fileName)
        x = (x ^ c) * 16777619u;
    std::string chunk;
    for (std::size_t left = options.payloadBytes; left > 0;) {
        const std::size_t n = std::min<std::size_t>(left, 1 << 16);
        chunk.resize(n);
        for (char& c : chunk) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = static_cast<char>(x & 0xff);
        }
        out.write(chunk.data(), static_cast<std::streamsize>(n));
        left -= n;
    }
    return out.good();
}

} // namespace

const char* sampleSectionName(int modelId)
{
    return isValidModelId(modelId) ? kSections[static_cast<std::size_t>(modelId - kFirstModelId)] : nullptr;
}

std::vector<SampleFile> sampleFirmwareFiles(int modelId)
{
    std::vector<SampleFile> out;
    const std::vector<Entry> entries = entriesFor(modelId);
    for (const auto& [component, key] : kKeys) {
        for (const Entry& e : entries) {
            if (e.component == component)
                out.push_back({component, key, fileNameOf(e), e.version, vupnoOf(component)});
        }
    }
    return out;
}

std::string simFirmwareHeader(const std::string& component, const std::string& version)
{
    return "KELVORA-SIM-FW component=" + component + " version=" + version + "\n";
}

bool writeSampleFolder(const std::string& dir, const SampleOptions& options, std::string* error)
{
    auto fail = [error](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    std::vector<int> models = options.models;
    if (models.empty()) {
        for (int id = kFirstModelId; id <= kLastModelId; ++id)
            models.push_back(id);
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        return fail("cannot create " + dir + ": " + ec.message());

    std::string ini;
    std::vector<SampleFile> files;
    std::set<std::string> seen;
    for (int id : models) {
        if (!sampleSectionName(id))
            return fail("unknown model identifier " + std::to_string(id));
        ini += std::string("[") + sampleSectionName(id) + "]\n";
        for (const SampleFile& f : sampleFirmwareFiles(id)) {
            ini += f.key + "=" + f.fileName + "\n";
            if (seen.insert(f.fileName).second)
                files.push_back(f);
        }
        ini += "\n";
    }
    for (const SampleFile& f : files) {
        ini += "[" + f.fileName + "]\nversion=" + f.version + "\nvupno=" + std::to_string(f.vupno) + "\n\n";
        if (!writeFirmware(std::filesystem::path(dir) / f.fileName, f, options))
            return fail("cannot write " + f.fileName + " in " + dir);
    }
    std::ofstream out(std::filesystem::path(dir) / "verup_list.ini", std::ios::binary | std::ios::trunc);
    out << ini;
    if (!out.good())
        return fail("cannot write verup_list.ini in " + dir);
    return true;
}
