#include "platform/sim/MachineJson.h"

#include <stdexcept>

#include "platform/sim/Utf8.h"
#include "platform/sim/WinPath.h"

namespace sim {

using nlohmann::json;

namespace {

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
    const std::wstring text = FromUtf8(value.get<std::string>());
    wchar_t letter = text.empty() ? 0 : text[0];
    if (letter >= L'a' && letter <= L'z') letter = static_cast<wchar_t>(letter - 32);
    if (text.size() > 2 || letter < L'A' || letter > L'Z') {
        throw std::runtime_error("bad drive letter \"" + value.get<std::string>() + "\"");
    }
    return letter;
}

std::wstring Wide(const json& value) { return FromUtf8(value.get<std::string>()); }

json MetaToJson(const FileMeta& meta) {
    json out = json::object();
    if (meta.attributes) out["attributes"] = *meta.attributes;
    if (meta.creationTime) out["creationTime"] = *meta.creationTime;
    return out;
}

FileMeta MetaFromJson(const json& value) {
    FileMeta meta;
    if (value.contains("attributes")) meta.attributes = value.at("attributes").get<uint32_t>();
    if (value.contains("creationTime")) meta.creationTime = value.at("creationTime").get<uint64_t>();
    return meta;
}

void ReadKnownKeys(const json& doc, MachineState& state) {
    if (doc.contains("version")) {
        const json& v = doc.at("version");
        state.version = platform::OsVersion{v.value("major", state.version.major), v.value("minor", state.version.minor),
                                            v.value("build", state.version.build)};
    }
    if (doc.contains("is64Bit")) state.is64Bit = doc.at("is64Bit").get<bool>();
    if (doc.contains("drives")) {
        state.drives.clear();
        for (const json& d : doc.at("drives")) {
            DriveInfo drive;
            drive.letter = DriveLetterFromJson(d.at("letter"));
            if (d.contains("type")) drive.type = DriveTypeFromJson(d.at("type"));
            drive.totalBytes = d.value("totalBytes", uint64_t{0});
            drive.freeBytes = d.value("freeBytes", uint64_t{0});
            state.drives.push_back(drive);
        }
    }
    if (doc.contains("specialFolders")) {
        state.specialFolders.clear();
        for (const auto& [key, value] : doc.at("specialFolders").items()) {
            // Base 0 so a hand-written file may use "0x1a" as well as "26".
            state.specialFolders[std::stoi(key, nullptr, 0)] = Wide(value);
        }
    }
    if (doc.contains("hostProgram")) state.hostProgram = Wide(doc.at("hostProgram"));
    if (doc.contains("libraryModule")) state.libraryModule = Wide(doc.at("libraryModule"));
    if (doc.contains("codePages")) {
        const json& cp = doc.at("codePages");
        state.codePages.oem = cp.value("oem", state.codePages.oem);
        state.codePages.ansi = cp.value("ansi", state.codePages.ansi);
    }
    if (doc.contains("files")) {
        state.files.clear();
        for (const auto& [key, value] : doc.at("files").items()) {
            WinPath path;
            const std::wstring wide = FromUtf8(key);
            state.files[WinPath::Parse(wide, path) ? path.Key() : Lower(wide)] = MetaFromJson(value);
        }
    }
    if (doc.contains("msiLog")) {
        const json& log = doc.at("msiLog");
        if (log.is_null()) {
            state.msiLog.reset();
        } else {
            state.msiLog = MsiLogSetting{Wide(log.at("path")), log.value("mode", 0u), log.value("attributes", 0u)};
        }
    }
    if (doc.contains("processId")) state.processId = doc.at("processId").get<uint32_t>();
    if (doc.contains("heldFiles")) {
        state.heldFiles.clear();
        for (const json& entry : doc.at("heldFiles")) {
            WinPath path;
            const std::wstring wide = Wide(entry);
            state.heldFiles.insert(WinPath::Parse(wide, path) ? path.Key() : Lower(wide));
        }
    }
}

}  // namespace

void WriteState(const MachineState& state, json& doc) {
    if (!doc.is_object()) doc = json::object();
    doc["version"] = {{"major", state.version.major}, {"minor", state.version.minor}, {"build", state.version.build}};
    doc["is64Bit"] = state.is64Bit;

    json drives = json::array();
    for (const DriveInfo& drive : state.drives) {
        drives.push_back({{"letter", ToUtf8(std::wstring(1, drive.letter))},
                          {"type", DriveTypeToName(drive.type)},
                          {"totalBytes", drive.totalBytes},
                          {"freeBytes", drive.freeBytes}});
    }
    doc["drives"] = drives;

    json folders = json::object();
    for (const auto& [id, path] : state.specialFolders) folders[std::to_string(id)] = ToUtf8(path);
    doc["specialFolders"] = folders;

    doc["hostProgram"] = ToUtf8(state.hostProgram);
    doc["libraryModule"] = ToUtf8(state.libraryModule);
    doc["codePages"] = {{"oem", state.codePages.oem}, {"ansi", state.codePages.ansi}};

    json files = json::object();
    for (const auto& [key, meta] : state.files) files[ToUtf8(key)] = MetaToJson(meta);
    doc["files"] = files;

    if (state.msiLog) {
        doc["msiLog"] = {{"path", ToUtf8(state.msiLog->path)},
                         {"mode", state.msiLog->mode},
                         {"attributes", state.msiLog->attributes}};
    } else {
        doc["msiLog"] = nullptr;
    }
    doc["processId"] = state.processId;

    json held = json::array();
    for (const auto& path : state.heldFiles) held.push_back(ToUtf8(path));
    doc["heldFiles"] = held;
}

MachineState ReadState(const json& doc) {
    if (!doc.is_object()) throw std::runtime_error("machine.json does not hold an object");
    MachineState state = MachineState::Default();
    try {
        ReadKnownKeys(doc, state);
    } catch (const json::exception& e) {
        throw std::runtime_error(std::string("machine.json: ") + e.what());
    } catch (const std::logic_error& e) {  // std::stoi on a bad CSIDL key
        throw std::runtime_error(std::string("machine.json: bad special folder id: ") + e.what());
    }
    return state;
}

}  // namespace sim
