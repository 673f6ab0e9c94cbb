#include "platform/sim/store/MachineState.h"

#include <stdexcept>

#include "platform/sim/files/WinPath.h"

namespace sim {

using nlohmann::json;

namespace {

constexpr uint64_t kGiB = 1024ull * 1024 * 1024;

// The library is a 32-bit module: on 64-bit Windows the shell hands it the
// x86 folders even for the "native" CSIDLs.
void SetRedirectedFolders(std::map<int, std::wstring>& folders, bool windows64) {
    const std::wstring programFiles = windows64 ? L"C:\\Program Files (x86)" : L"C:\\Program Files";
    folders[csidl::kProgramFiles] = programFiles;
    folders[csidl::kProgramFilesX86] = programFiles;
    folders[csidl::kProgramFilesCommon] = programFiles + L"\\Common Files";
    folders[csidl::kProgramFilesCommonX86] = programFiles + L"\\Common Files";
    folders[csidl::kSystem] = windows64 ? L"C:\\Windows\\SysWOW64" : L"C:\\Windows\\System32";
    // The x86 system folder, the same on both kinds of Windows for a 32-bit
    // module.
    folders[csidl::kSystemX86] = folders[csidl::kSystem];
}

struct DriveTypeName {
    platform::DriveType type;
    const char* name;
};

constexpr DriveTypeName kDriveTypeNames[] = {
    {platform::DriveType::Unknown, "unknown"},     {platform::DriveType::NoRootDir, "noRootDir"},
    {platform::DriveType::Removable, "removable"}, {platform::DriveType::Fixed, "fixed"},
    {platform::DriveType::Remote, "remote"},       {platform::DriveType::CdRom, "cdrom"},
    {platform::DriveType::RamDisk, "ramdisk"},
};

std::string DriveTypeToName(platform::DriveType type) {
    for (const auto& entry : kDriveTypeNames) {
        if (entry.type == type) return entry.name;
    }
    return "unknown";
}

platform::DriveType DriveTypeFromJson(const json& value) {
    if (value.is_number_unsigned()) return static_cast<platform::DriveType>(value.get<uint32_t>());
    const std::string name = value.get<std::string>();
    for (const auto& entry : kDriveTypeNames) {
        if (name == entry.name) return entry.type;
    }
    throw std::runtime_error("unknown drive type \"" + name + "\"");
}

wchar_t DriveLetterFromJson(const json& value) {
    const std::wstring text = value.get<std::wstring>();
    wchar_t letter = text.empty() ? 0 : text[0];
    if (letter >= L'a' && letter <= L'z') letter = static_cast<wchar_t>(letter - 32);
    if (text.size() > 2 || letter < L'A' || letter > L'Z') {
        throw std::runtime_error("bad drive letter \"" + value.get<std::string>() + "\"");
    }
    return letter;
}

}  // namespace

std::vector<DriveInfo> MachineState::DefaultDrives() {
    return {DriveInfo{L'C', platform::DriveType::Fixed, 256 * kGiB, 120 * kGiB}};
}

std::map<int, std::wstring> MachineState::DefaultSpecialFolders() {
    std::map<int, std::wstring> folders{
        {csidl::kAppData, L"C:\\Users\\Tarn\\AppData\\Roaming"},
        {csidl::kLocalAppData, L"C:\\Users\\Tarn\\AppData\\Local"},
        {csidl::kMyMusic, L"C:\\Users\\Tarn\\Music"},
        {csidl::kCommonAppData, L"C:\\ProgramData"},
        {csidl::kWindows, L"C:\\Windows"},
        {csidl::kProfile, L"C:\\Users\\Tarn"},
        {csidl::kPersonal, L"C:\\Users\\Tarn\\Documents"},
        {csidl::kDesktopDirectory, L"C:\\Users\\Tarn\\Desktop"},
    };
    SetRedirectedFolders(folders, true);
    return folders;
}

void MachineState::SetWindows(uint32_t major, uint32_t minor, uint32_t build, bool windows64) {
    version = platform::OsVersion{major, minor, build};
    is64Bit = windows64;
    SetRedirectedFolders(specialFolders, windows64);
}

void MachineState::SetWindows(WindowsRelease release, bool windows64) {
    switch (release) {
        case WindowsRelease::Windows7: SetWindows(6, 1, 7601, windows64); break;
        case WindowsRelease::Windows81: SetWindows(6, 3, 9600, windows64); break;
        case WindowsRelease::Windows10: SetWindows(10, 0, 19045, windows64); break;
        case WindowsRelease::Windows11: SetWindows(10, 0, 22631, windows64); break;
    }
}

std::wstring PathKey(const std::wstring& path) {
    WinPath parsed;
    return WinPath::Parse(path, parsed) ? parsed.Key() : Fold(path);
}

void to_json(json& out, const DriveInfo& drive) {
    out = {{"letter", std::wstring(1, drive.letter)},
           {"type", DriveTypeToName(drive.type)},
           {"totalBytes", drive.totalBytes},
           {"freeBytes", drive.freeBytes}};
}

void from_json(const json& in, DriveInfo& drive) {
    drive = DriveInfo{};
    drive.letter = DriveLetterFromJson(in.at("letter"));
    if (in.contains("type")) drive.type = DriveTypeFromJson(in.at("type"));
    drive.totalBytes = in.value("totalBytes", uint64_t{0});
    drive.freeBytes = in.value("freeBytes", uint64_t{0});
}

void to_json(json& out, const FileMeta& meta) {
    out = json::object();
    if (meta.attributes) out["attributes"] = *meta.attributes;
    if (meta.creationTime) out["creationTime"] = *meta.creationTime;
    if (meta.listDenied) out["listDenied"] = true;
    if (meta.reparseTag) out["reparseTag"] = *meta.reparseTag;
}

void from_json(const json& in, FileMeta& meta) {
    meta = FileMeta{};
    if (in.contains("attributes")) meta.attributes = in.at("attributes").get<uint32_t>();
    if (in.contains("creationTime")) meta.creationTime = in.at("creationTime").get<uint64_t>();
    meta.listDenied = in.value("listDenied", false);
    if (in.contains("reparseTag")) meta.reparseTag = in.at("reparseTag").get<uint32_t>();
}

}  // namespace sim
