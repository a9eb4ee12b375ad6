// kelvora-samplegen: writes a sample firmware folder for the simulated camera.

#include "sim/samplefolder.h"
#include "sim/simprofiles.h"

#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    SampleOptions options;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << "Usage: kelvora-samplegen [--model NAME|ID]... [--payload-bytes N] [--no-header] DIR\n"
                         "Writes verup_list.ini and small firmware files for the simulated camera into DIR.\n"
                         "Without --model the folder serves all twelve models.\n";
            return 0;
        }
        if ((arg == "--model" || arg == "--payload-bytes") && i + 1 < argc) {
            const std::string v = argv[++i];
            if (arg == "--model") {
                std::string why;
                const int id = simModelFromText(v, &why);
                if (!id) {
                    std::cerr << "kelvora-samplegen: " << why << '\n';
                    return 2;
                }
                options.models.push_back(id);
            } else {
                options.payloadBytes = std::strtoull(v.c_str(), nullptr, 10);
            }
        } else if (arg == "--no-header") {
            options.withHeader = false;
        } else if (!arg.empty() && arg[0] != '-' && dir.empty()) {
            dir = arg;
        } else {
            std::cerr << "kelvora-samplegen: bad argument " << arg << " (see --help)\n";
            return 2;
        }
    }
    if (dir.empty()) {
        std::cerr << "kelvora-samplegen: no folder given (see --help)\n";
        return 2;
    }
    std::string error;
    if (!writeSampleFolder(dir, options, &error)) {
        std::cerr << "kelvora-samplegen: " << error << '\n';
        return 1;
    }
    std::cout << dir << '\n';
    return 0;
}
