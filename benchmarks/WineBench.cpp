#include "WineBench.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>

namespace winbench {

double NowSeconds() {
    static const double frequency = [] {
        LARGE_INTEGER f{};
        ::QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / frequency;
}

namespace {

double Median(std::vector<double> times) {
    if (times.empty()) return 0;
    std::sort(times.begin(), times.end());
    const size_t middle = times.size() / 2;
    return times.size() % 2 == 1 ? times[middle] : (times[middle - 1] + times[middle]) / 2;
}

bool Prepare(const Measure& m, const char* when, int round) {
    if (!m.setup || m.setup()) return true;
    std::fprintf(stderr, "setting up \"%s\" failed (%s %d)\n", m.label, when, round);
    return false;
}

}  // namespace

bool RunRounds(std::vector<Measure>& measures, int rounds) {
    for (Measure& m : measures) {
        if (!Prepare(m, "warm-up", 0)) return false;
        if (!m.body()) {
            std::fprintf(stderr, "warm-up of \"%s\" failed\n", m.label);
            return false;
        }
    }
    std::vector<std::vector<double>> times(measures.size());
    for (int round = 0; round < rounds; ++round) {
        for (size_t i = 0; i < measures.size(); ++i) {
            Measure& m = measures[i];
            if (!Prepare(m, "round", round + 1)) return false;
            const double start = NowSeconds();
            const bool ok = m.body();
            const double took = NowSeconds() - start;
            if (!ok) {
                std::fprintf(stderr, "\"%s\" failed in round %d\n", m.label, round + 1);
                return false;
            }
            times[i].push_back(took);
        }
    }
    for (size_t i = 0; i < measures.size(); ++i) {
        measures[i].best = *std::min_element(times[i].begin(), times[i].end());
        measures[i].median = Median(times[i]);
    }
    return true;
}

void PrintMeasure(const Measure& m, size_t items, const char* unit) {
    std::printf("  %-50s best %9.1f ms  median %9.1f ms  %10.0f %s/s\n", m.label, m.best * 1000.0,
                m.median * 1000.0, m.best > 0 ? static_cast<double>(items) / m.best : 0.0, unit);
}

std::string ProcessTimes() {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return "?";
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    char text[80];
    std::snprintf(text, sizeof text, "%.1f s user, %.1f s system", seconds(user), seconds(kernel));
    return text;
}

std::wstring FolderKey(std::wstring path) {
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    for (wchar_t& c : path) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return path;
}

std::string Narrow(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), narrow.data(), size, nullptr,
                          nullptr);
    return narrow;
}

namespace {

class BareWalker {
public:
    explicit BareWalker(const BareWalkOptions& options) : options_(options) {
        for (const std::wstring& folder : options.excluded) excluded_.push_back(FolderKey(folder));
    }

    void Walk(std::wstring folder) {
        if (folder.back() != L'\\') folder += L'\\';
        WalkFolder(folder);
    }

    WalkTotals totals;

private:
    bool Excluded(const std::wstring& folderWithSlash) const {
        if (excluded_.empty()) return false;
        const std::wstring key = FolderKey(folderWithSlash);
        return std::find(excluded_.begin(), excluded_.end(), key) != excluded_.end();
    }

    void Probe(const std::wstring& parentWithSlash, const wchar_t* name) const {
        std::wstring folder = options_.probes == Probes::AsTheScanSpells ? FolderKey(parentWithSlash) + L"\\"
                                                                          : parentWithSlash;
        folder += name;
        if (options_.probes == Probes::OneSearch) {
            WIN32_FIND_DATAW found;
            const HANDLE search = ::FindFirstFileExW((folder + L"\\manifest.*").c_str(), FindExInfoBasic, &found,
                                                     FindExSearchNameMatch, nullptr, 0);
            if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
            return;
        }
        for (const wchar_t* probe : {L"\\manifest.db", L"\\manifest.mbdb"}) {
            volatile DWORD attributes = ::GetFileAttributesW((folder + probe).c_str());
            (void)attributes;
        }
    }

    void WalkFolder(std::wstring& folder) {
        const size_t length = folder.size();
        folder += L"*";
        WIN32_FIND_DATAW found;
        const HANDLE search = ::FindFirstFileExW(folder.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                                 nullptr, FIND_FIRST_EX_LARGE_FETCH);
        folder.resize(length);
        if (search == INVALID_HANDLE_VALUE) return;
        do {
            const wchar_t* name = found.cFileName;
            if (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))) continue;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                ++totals.files;
                totals.bytes += (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
                continue;
            }
            folder += name;
            folder += L'\\';
            if (!Excluded(folder)) {
                ++totals.folders;
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                    if (options_.probes != Probes::None) Probe(folder.substr(0, length), name);
                    WalkFolder(folder);
                }
            }
            folder.resize(length);
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }

    const BareWalkOptions& options_;
    std::vector<std::wstring> excluded_;
};

}  // namespace

WalkTotals BareWalk(const std::vector<std::wstring>& starts, const BareWalkOptions& options) {
    BareWalker walker(options);
    for (const std::wstring& start : starts) walker.Walk(start);
    return walker.totals;
}

}  // namespace winbench
