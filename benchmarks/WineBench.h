// What the Windows-side benchmarks share: a clock, rounds of several kinds
// of work taken in turns with their best and median, and a bare
// FindFirstFileExW walk to hold the library's walks against.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace winbench {

double NowSeconds();

// One measured thing: `body` answers false when the work went wrong, which
// stops the whole run. `setup`, when given, runs untimed before each round
// (and before the warm-up): a deletion needs its files back.
struct Measure {
    Measure(const char* label, std::function<bool()> body, std::function<bool()> setup = {})
        : label(label), body(std::move(body)), setup(std::move(setup)) {}

    const char* label;
    std::function<bool()> body;
    std::function<bool()> setup;
    double best = 0;
    double median = 0;
};

// One untimed warm-up of each, then `rounds` rounds, each taking every
// measure in turn, so a slow moment of the machine does not fall on one
// side only.
bool RunRounds(std::vector<Measure>& measures, int rounds);

// "label  best .. ms  median .. ms  ../s"
void PrintMeasure(const Measure& m, size_t items, const char* unit);

// The machine's load as the scripts print it is read outside Wine; this
// is the processor time this process used, to tell a busy round apart.
std::string ProcessTimes();

// What a walk counted.
struct WalkTotals {
    uint64_t files = 0;
    uint64_t folders = 0;
    uint64_t bytes = 0;
    bool operator==(const WalkTotals& o) const { return files == o.files && folders == o.folders && bytes == o.bytes; }
};

// A recursive FindFirstFileExW (basic information, large fetch) /
// FindNextFileW walk. Folders are entered in the order met, depth first;
// links are counted as folders and not entered, as the library's walker
// does. A folder whose lower-cased path is in `excluded` (no trailing
// backslash) is neither counted nor entered. With probes, every folder
// met is also asked for the two backup manifests with GetFileAttributesW,
// as the scan asks each folder: on the path the scan spells (its parent
// lower-cased, its own name as found), or on the path as found; or with
// one FindFirstFileExW search for "manifest.*" in the folder as found.
enum class Probes { None, AsTheScanSpells, AsFound, OneSearch };
struct BareWalkOptions {
    std::vector<std::wstring> excluded;
    Probes probes = Probes::None;
};
WalkTotals BareWalk(const std::vector<std::wstring>& starts, const BareWalkOptions& options = {});

// "C:\A\b" -> "c:\a\b", no trailing backslash: how the walks compare
// folders.
std::wstring FolderKey(std::wstring path);

std::string Narrow(const std::wstring& text);

}  // namespace winbench
