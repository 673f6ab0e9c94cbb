#include "platform/sim/files/StockLinks.h"

#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/Types.h"
#include "platform/sim/store/Machine.h"
#include "platform/sim/files/WinPath.h"

namespace sim {

namespace fs = std::filesystem;

namespace {

// Each profile's old names, relative to the profile.
constexpr std::pair<const wchar_t*, const wchar_t*> kProfileLinks[] = {
    {L"My Documents", L"Documents"},
    {L"Application Data", L"AppData\\Roaming"},
    {L"Local Settings", L"AppData\\Local"},
    {L"AppData\\Local\\Application Data", L"AppData\\Local"},  // "Local Settings\Application Data"
    {L"Cookies", L"AppData\\Local\\Microsoft\\Windows\\INetCookies"},
    {L"NetHood", L"AppData\\Roaming\\Microsoft\\Windows\\Network Shortcuts"},
    {L"PrintHood", L"AppData\\Roaming\\Microsoft\\Windows\\Printer Shortcuts"},
    {L"Recent", L"AppData\\Roaming\\Microsoft\\Windows\\Recent"},
    {L"SendTo", L"AppData\\Roaming\\Microsoft\\Windows\\SendTo"},
    {L"Start Menu", L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
    {L"Templates", L"AppData\\Roaming\\Microsoft\\Windows\\Templates"},
    {L"Documents\\My Music", L"Music"},
    {L"Documents\\My Pictures", L"Pictures"},
    {L"Documents\\My Videos", L"Videos"},
};

// Folders of a profile besides the links' targets. Only what a caller may
// look for: every entry made costs each test's fresh machine its time.
constexpr const wchar_t* kProfileFolders[] = {L"Desktop", L"Downloads"};

constexpr uint32_t kLinkAttributes = platform::kAttrHidden | platform::kAttrSystem;

struct Link {
    std::wstring path;
    std::wstring target;
};

class StockLayout {
public:
    void Profile(const std::wstring& profile) {
        for (const wchar_t* folder : kProfileFolders) folders_.push_back(profile + L"\\" + folder);
        for (const auto& [name, target] : kProfileLinks) Add(profile + L"\\" + name, profile + L"\\" + target);
    }

    void Add(const std::wstring& path, const std::wstring& target) {
        folders_.push_back(target);
        links_.push_back({path, target});
    }

    // Makes what is missing on the host; the junctions it made, for their marks.
    std::vector<std::wstring> Create(const Machine& machine) const {
        std::error_code ec;
        for (const std::wstring& folder : folders_) {
            std::string host;
            if (machine.Resolve(folder, host)) fs::create_directories(host, ec);
        }
        std::vector<std::wstring> made;
        for (const Link& link : links_) {
            std::string host, target;
            if (!machine.Resolve(link.path, host) || !machine.Resolve(link.target, target)) continue;
            struct stat st {};
            if (::lstat(host.c_str(), &st) == 0) continue;
            fs::create_directory_symlink(target, host, ec);
            if (!ec) made.push_back(link.path);
        }
        return made;
    }

private:
    std::vector<std::wstring> folders_;
    std::vector<Link> links_;
};

std::wstring ParentOf(const std::wstring& path) {
    WinPath parsed;
    if (!WinPath::Parse(path, parsed) || parsed.IsRoot()) return std::wstring();
    return parsed.Parent().ToString();
}

}  // namespace

void CreateStockLinks(Machine& machine) {
    std::wstring profile, programData;
    machine.Read([&](const MachineState& state) {
        auto it = state.specialFolders.find(csidl::kProfile);
        if (it != state.specialFolders.end()) profile = it->second;
        it = state.specialFolders.find(csidl::kCommonAppData);
        if (it != state.specialFolders.end()) programData = it->second;
    });
    const std::wstring users = ParentOf(profile);
    // A machine whose profile sits at a drive root has no profiles folder
    // to speak of.
    if (users.empty() || ParentOf(users).empty()) return;

    StockLayout layout;
    const std::wstring drive = users.substr(0, 3);
    layout.Add(drive + L"Documents and Settings", users);
    layout.Profile(profile);
    // The template profile only where a machine has one: making it would
    // double what a fresh machine costs.
    const std::wstring templateProfile = users + L"\\Default";
    std::string templateHost;
    if (machine.Resolve(templateProfile, templateHost) && fs::is_directory(templateHost)) {
        layout.Profile(templateProfile);
        layout.Add(users + L"\\Default User", templateProfile);
    }
    if (!programData.empty() && !ParentOf(programData).empty()) {
        layout.Add(users + L"\\All Users", programData);
        layout.Add(programData + L"\\Application Data", programData);
        layout.Add(programData + L"\\Desktop", users + L"\\Public\\Desktop");
        layout.Add(programData + L"\\Documents", users + L"\\Public\\Documents");
        layout.Add(programData + L"\\Start Menu", programData + L"\\Microsoft\\Windows\\Start Menu");
        layout.Add(programData + L"\\Templates", programData + L"\\Microsoft\\Windows\\Templates");
    }
    const std::vector<std::wstring> made = layout.Create(machine);

    FileMeta mark;
    mark.attributes = kLinkAttributes;
    mark.listDenied = true;
    try {
        // One write of machine.json for all the marks: a machine is made
        // for every test case.
        machine.Edit([&](MachineState& state, bool& changed) {
            for (const std::wstring& link : made) {
                state.files[PathKey(link)] = mark;
                changed = true;
            }
        });
    } catch (const std::runtime_error&) {
        // The folders are made; a machine.json that cannot be written shows
        // them unmarked, as for any other bookkeeping (Machine.h).
    }
}

}  // namespace sim
