#ifndef KELVORA_SIM_SAMPLEFOLDER_H
#define KELVORA_SIM_SAMPLEFOLDER_H

// Sample firmware folders for the simulated camera: verup_list.ini with a section per
// model and small firmware files whose first line names their component and version,
//   KELVORA-SIM-FW component=network_cpu version=V02.20
// which the simulated camera reports after it has taken the file and restarted.

#include <cstddef>
#include <string>
#include <vector>

struct SampleFile {
    int component = -1;    // QSV digit (see simprofiles.h)
    std::string key;       // key in the model section, e.g. "eeprom_cam"
    std::string fileName;
    std::string version;
    int vupno = 0;
};

struct SampleOptions {
    std::vector<int> models;      // model identifiers to include; empty = all twelve
    std::size_t payloadBytes = 64; // bytes after the first line of each file
    bool withHeader = true;        // false: files without the first line (the camera keeps its versions)
};

// List-file section name of a model ("TK10", ..., "TK15H_NEWFPGA"); nullptr outside 1..12.
const char* sampleSectionName(int modelId);
// The files the sample set has for a model, in the tool's component order.
std::vector<SampleFile> sampleFirmwareFiles(int modelId);
// "KELVORA-SIM-FW component=<component> version=<version>\n"
std::string simFirmwareHeader(const std::string& component, const std::string& version);

// Writes the list file and firmware files into dir (created if missing).
bool writeSampleFolder(const std::string& dir, const SampleOptions& options = {}, std::string* error = nullptr);

#endif
