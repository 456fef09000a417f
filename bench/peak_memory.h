#pragma once
// The peak resident memory of this process, for the benchmarks that measure
// one step per process.

#include <cstdlib>
#include <fstream>
#include <string>

// VmHWM from /proc/self/status, in KiB; -1 when it cannot be read.
inline long PeakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}
