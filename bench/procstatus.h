#ifndef KELVORA_BENCH_PROCSTATUS_H
#define KELVORA_BENCH_PROCSTATUS_H

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Peak resident set of this process in KiB (VmHWM), -1 when unknown.
inline long peakResidentKib()
{
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmHWM:", 6) == 0) {
            kib = std::strtol(line + 6, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return kib;
}

#endif
