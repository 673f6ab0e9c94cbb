// What the timed comparisons of the benchmarks share: trees made once and
// cached, resource figures of this process, shell commands, and rounds of
// several kinds of work taken in turns.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// Four levels of ten folders (11,110 folders); the files fill the 10,000
// leaves as evenly as the count allows. Names and sizes vary like a music
// library's.
inline void MakeTree(const std::string& root, int64_t entries) {
    namespace fs = std::filesystem;
    constexpr int kFanout = 10;
    constexpr int kDepth = 4;
    std::vector<std::string> level{root};
    int64_t folders = 0;
    for (int depth = 0; depth < kDepth; ++depth) {
        std::vector<std::string> next;
        for (const std::string& parent : level) {
            for (int i = 0; i < kFanout; ++i) {
                next.push_back(parent + "/Album " + std::to_string(depth) + "-" + std::to_string(i));
                fs::create_directories(next.back());
                ++folders;
            }
        }
        level = std::move(next);
    }
    const int64_t files = entries - folders;
    const int64_t leaves = static_cast<int64_t>(level.size());
    for (int64_t leaf = 0; leaf < leaves; ++leaf) {
        const int64_t count = files / leaves + (leaf < files % leaves ? 1 : 0);
        for (int64_t f = 0; f < count; ++f) {
            const std::string file = level[leaf] + "/" + std::to_string(f) + " Track " + std::to_string(leaf) + ".m4a";
            const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0) throw std::runtime_error("cannot create " + file);
            // Sparse: a size to report without the bytes.
            const int rc = ::ftruncate(fd, static_cast<off_t>((leaf * 7919 + f * 104729) % (12 << 20)));
            ::close(fd);
            if (rc != 0) throw std::runtime_error("cannot size " + file);
        }
    }
}

// A field of /proc/self/status in KiB (VmHWM, VmRSS); -1 when missing.
inline long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
            return std::atol(line.c_str() + length + 1);
        }
    }
    return -1;
}

// CPU seconds (user and system, every thread) this process and its
// waited-for children have used so far: on a machine other builds share, a
// run's CPU time varies far less than its wall time.
inline double CpuSeconds() {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        struct rusage usage {};
        ::getrusage(who, &usage);
        for (const timeval& t : {usage.ru_utime, usage.ru_stime}) total += t.tv_sec + t.tv_usec / 1e6;
    }
    return total;
}

inline std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline void RunShell(const std::string& command) {
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

// One kind of work compared in turns: `prepare` runs untimed before each
// round (a fresh copy to delete, say), `run` is timed.
struct Kind {
    std::string name;
    std::function<void()> run;
    std::function<void()> prepare;
};

struct Best {
    double wall = 1e30;
    double cpu = 1e30;
};

// Every kind once per round, in turns, so whatever else the machine does at
// the time weighs on each alike; each kind's best round by wall time and by
// CPU time.
inline std::vector<Best> BestOfTurns(const std::vector<Kind>& kinds, int rounds) {
    std::vector<Best> best(kinds.size());
    for (int round = 0; round < rounds; ++round) {
        for (size_t k = 0; k < kinds.size(); ++k) {
            if (kinds[k].prepare) kinds[k].prepare();
            const double cpuStart = CpuSeconds();
            const auto start = std::chrono::steady_clock::now();
            kinds[k].run();
            const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            best[k].wall = std::min(best[k].wall, wall);
            best[k].cpu = std::min(best[k].cpu, CpuSeconds() - cpuStart);
        }
    }
    return best;
}

// The table of BestOfTurns, each kind as a ratio to the first.
inline void PrintBest(const std::vector<Kind>& kinds, const std::vector<Best>& best, double entries) {
    std::printf("  %-9s %9s %7s %12s %9s %7s\n", "", "wall ms", "ratio", "entries/s", "CPU ms", "ratio");
    for (size_t k = 0; k < kinds.size(); ++k) {
        std::printf("  %-9s %9.1f %6.2fx %12.0f %9.1f %6.2fx\n", kinds[k].name.c_str(), best[k].wall * 1000,
                    best[k].wall / best[0].wall, entries / best[k].wall, best[k].cpu * 1000,
                    best[k].cpu / best[0].cpu);
    }
}

// The machine's load averages as `uptime` prints them.
inline std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

}  // namespace bench
