#ifndef KELVORA_TESTS_SIMUPLOADS_H
#define KELVORA_TESTS_SIMUPLOADS_H

// What a simulated camera took: its accepted uploads of each component, counted, for tests
// that must see every file reach a camera exactly once.

#include "sim/camerasim.h"

#include <map>
#include <string>

inline std::map<std::string, int> acceptedUploads(const CameraSim& sim)
{
    std::map<std::string, int> count;
    for (const SimRequest& r : sim.uploads()) {
        if (r.upload && r.upload->accepted)
            ++count[r.upload->component];
    }
    return count;
}

#endif
