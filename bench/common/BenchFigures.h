#pragma once
// Pieces of the local benchmarks' figures: medians, CPU time, the machine's
// load beside them, and a scratch folder on tmpfs.
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace bx::bench {

// The first three fields of /proc/loadavg: the machine may be shared, and a
// figure only means something beside the load it was taken under.
inline std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

inline double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// CPU seconds of this process so far, every thread counted.
inline double cpuNow() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// A fresh folder on /dev/shm (else the temporary folder), so that the disk
// stays out of the figures.
inline std::filesystem::path scratchFolder(const std::string& name) {
    namespace fs = std::filesystem;
    std::string tmpl = (fs::exists("/dev/shm") ? std::string("/dev/shm") : fs::temp_directory_path().string()) +
                       "/bx-bench-" + name + "-XXXXXX";
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("cannot make a scratch folder");
    return tmpl;
}

}  // namespace bx::bench
