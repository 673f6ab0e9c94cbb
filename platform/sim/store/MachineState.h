// Everything the simulated machine remembers besides the file trees: the
// facts the seam reports and the bookkeeping Windows keeps in places the
// host file system has no room for (attribute bits, creation times). Its
// fields are the top-level keys of machine.json; the other parts of the
// simulation keep sections of their own beside them (MachineStore.h).
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
#include "platform/sim/store/MachineJson.h"

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
    // An ACL that denies everyone the listing of the folder, as Windows
    // gives the junctions it keeps for old folder names: a search of its
    // entries fails with error 5 while paths through it still open.
    bool listDenied = false;
    // A reparse point that is no link (a cloud placeholder, a deduplicated
    // file): the entry keeps its contents and reports the attribute and tag.
    std::optional<uint32_t> reparseTag = std::nullopt;
    bool Empty() const { return !attributes && !creationTime && !listDenied && !reparseTag; }
    bool operator==(const FileMeta& other) const {
        return attributes == other.attributes && creationTime == other.creationTime && listDenied == other.listDenied &&
               reparseTag == other.reparseTag;
    }
};

// The key the machine keeps a path's bookkeeping under (WinPath::Key()),
// also for a path a hand-written machine.json spells another way.
SIM_API std::wstring PathKey(const std::wstring& path);

// A map or set keyed by PathKey().
template <typename T>
struct PathMap : std::map<std::wstring, T> {};
struct PathSet : std::set<std::wstring> {};

}  // namespace sim

namespace nlohmann {

// Read by their key, so a path spelt any way Windows accepts finds its entry.
template <typename T>
struct adl_serializer<sim::PathMap<T>> {
    static void to_json(json& j, const sim::PathMap<T>& map) { j = static_cast<const std::map<std::wstring, T>&>(map); }
    static void from_json(const json& j, sim::PathMap<T>& map) {
        if (!j.is_object())
            throw json::type_error::create(302, "type must be object, but is " + std::string(j.type_name()), &j);
        map.clear();
        for (auto it = j.begin(); it != j.end(); ++it) {
            // Stored keys are keys already and come in their order, so each
            // lands at the end.
            try {
                map.insert_or_assign(map.end(), sim::PathKey(sim::FromUtf8(it.key())), it->template get<T>());
            } catch (const json::exception&) {
            }
        }
    }
};

template <>
struct adl_serializer<sim::PathSet> {
    static void to_json(json& j, const sim::PathSet& set) { j = static_cast<const std::set<std::wstring>&>(set); }
    static void from_json(const json& j, sim::PathSet& set) {
        set.clear();
        for (const std::wstring& path : j.get<std::vector<std::wstring>>()) set.insert(sim::PathKey(path));
    }
};

}  // namespace nlohmann

namespace platform {
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(OsVersion, major, minor, build)
}  // namespace platform

namespace sim {

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

// A default-constructed state is the default machine: Windows 10 x64 with
// one fixed C: drive, seen from a 32-bit process. A machine.json states
// only where it differs.
struct SIM_API MachineState {
    // The whole document: these fields are machine.json's top-level keys.
    static constexpr const char* kKey = "";

    platform::OsVersion version{10, 0, 19045};
    bool is64Bit = true;
    std::vector<DriveInfo> drives = DefaultDrives();
    std::map<int, std::wstring> specialFolders = DefaultSpecialFolders();
    std::wstring hostProgram = L"C:\\Tarnwick\\brisalen.exe";
    std::wstring libraryModule = L"C:\\Tarnwick\\Brisalen.dll";
    CodePageSettings codePages;
    PathMap<FileMeta> files;
    std::optional<MsiLogSetting> msiLog;
    uint32_t processId = 4242;
    PathSet heldFiles;
    // The time zone, as minutes added to UTC to give local time (UTC+1 is
    // 60), without daylight saving. UTC unless a machine says otherwise.
    int32_t utcOffsetMinutes = 0;

    // Changes the Windows release and bitness, moving the folders a 32-bit
    // process is redirected to (Program Files, System) along with it.
    void SetWindows(uint32_t major, uint32_t minor, uint32_t build, bool windows64);
    void SetWindows(WindowsRelease release, bool windows64);

private:
    static std::vector<DriveInfo> DefaultDrives();
    static std::map<int, std::wstring> DefaultSpecialFolders();
};

// Stored forms a declaration cannot give: a drive's letter is text and its
// type a name; a file's bookkeeping leaves out what it lacks.
SIM_API void to_json(nlohmann::json& json, const DriveInfo& drive);
SIM_API void from_json(const nlohmann::json& json, DriveInfo& drive);
SIM_API void to_json(nlohmann::json& json, const FileMeta& meta);
SIM_API void from_json(const nlohmann::json& json, FileMeta& meta);

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(MsiLogSetting, path, mode, attributes)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(CodePageSettings, oem, ansi)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(MachineState, version, is64Bit, drives, specialFolders, hostProgram,
                                                libraryModule, codePages, files, msiLog, processId, heldFiles,
                                                utcOffsetMinutes)

}  // namespace sim
