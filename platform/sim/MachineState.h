// Everything the simulated machine remembers besides the file trees: the
// facts the seam reports and the bookkeeping Windows keeps in places the
// host file system has no room for (attribute bits, creation times).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/KnownFolders.h"
#include "platform/Types.h"
#include "platform/sim/Api.h"

namespace sim {

// Shell folder identifiers, as the seam numbers them.
namespace csidl = platform::csidl;

struct DriveInfo {
    wchar_t letter = L'C';
    platform::DriveType type = platform::DriveType::Fixed;
    uint64_t totalBytes = 0;
    uint64_t freeBytes = 0;
};

// What NTFS would store with a file. Absent values fall back to what the
// host file reports (archive bit, modification time).
struct FileMeta {
    std::optional<uint32_t> attributes;
    std::optional<uint64_t> creationTime;  // FILETIME ticks
    bool Empty() const { return !attributes && !creationTime; }
    bool operator==(const FileMeta& other) const {
        return attributes == other.attributes && creationTime == other.creationTime;
    }
};

struct MsiLogSetting {
    std::wstring path;
    uint32_t mode = 0;
    uint32_t attributes = 0;
};

struct CodePageSettings {
    uint32_t oem = 437;
    uint32_t ansi = 1252;
};

enum class WindowsRelease { Windows7, Windows81, Windows10, Windows11 };

struct SIM_API MachineState {
    platform::OsVersion version{10, 0, 19045};
    bool is64Bit = true;
    std::vector<DriveInfo> drives;
    std::map<int, std::wstring> specialFolders;
    std::wstring hostProgram = L"C:\\Tarnwick\\brisalen.exe";
    std::wstring libraryModule = L"C:\\Tarnwick\\Brisalen.dll";
    CodePageSettings codePages;
    std::map<std::wstring, FileMeta> files;  // keyed by WinPath::Key()
    std::optional<MsiLogSetting> msiLog;
    uint32_t processId = 4242;
    std::set<std::wstring> heldFiles;  // keyed by WinPath::Key()

    // Windows 10 x64 with one fixed C: drive, seen from a 32-bit process.
    static MachineState Default();

    // Changes the Windows release and bitness, moving the folders a 32-bit
    // process is redirected to (Program Files, System) along with it.
    void SetWindows(uint32_t major, uint32_t minor, uint32_t build, bool windows64);
    void SetWindows(WindowsRelease release, bool windows64);
};

}  // namespace sim
