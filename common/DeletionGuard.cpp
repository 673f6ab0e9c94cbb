#include "common/DeletionGuard.h"

#include <algorithm>
#include <cwctype>
#include <map>
#include <memory>
#include <mutex>

#include "logging/Log.h"
#include "platform/KnownFolders.h"
#include "platform/Platform.h"

namespace {

constexpr wchar_t kLiteralPrefix[] = L"\\\\?\\";
constexpr wchar_t kLiteralUncPrefix[] = L"\\\\?\\UNC\\";
constexpr wchar_t kDevicePrefix[] = L"\\\\.\\";

// What Windows makes in every profile, and what the cloud services sync
// into one; any of them may hold years of a user's work.
constexpr const wchar_t* kProfileFolders[] = {
    L"Desktop", L"Documents", L"Downloads", L"Music", L"Pictures", L"Videos", L"Favorites", L"Saved Games",
    L"Contacts", L"Links", L"Searches", L"3D Objects", L"My Documents", L"iCloudDrive", L"iCloud Photos",
    L"Dropbox", L"Google Drive", L"Box", L"Creative Cloud Files", L"AppData", L"AppData\\Roaming",
    L"AppData\\Local", L"AppData\\LocalLow", L"AppData\\Local\\Temp", L"AppData\\Roaming\\Microsoft",
    L"AppData\\Local\\Microsoft", L"AppData\\Local\\Packages", L"AppData\\Local\\Programs",
    L"AppData\\Roaming\\Microsoft\\Windows", L"Documents\\My Music", L"Documents\\My Pictures",
    L"Documents\\My Videos",
    // The links Windows keeps for programs of its XP days.
    L"Application Data", L"Local Settings", L"Local Settings\\Application Data", L"Cookies", L"NetHood",
    L"PrintHood", L"Recent", L"SendTo", L"Start Menu", L"Templates",
};

// Folders of Windows' own inside the folders programs are installed into.
constexpr const wchar_t* kWindowsProgramFolders[] = {
    L"WindowsApps", L"ModifiableWindowsApps", L"Windows Defender", L"Windows Defender Advanced Threat Protection",
    L"Windows NT", L"Windows Mail", L"Windows Media Player", L"Windows Photo Viewer", L"Windows Portable Devices",
    L"Windows Security", L"Windows Sidebar", L"WindowsPowerShell", L"Internet Explorer", L"Microsoft Update Health Tools",
    L"Common Files\\Microsoft Shared", L"Common Files\\System", L"Common Files\\services",
};
constexpr const wchar_t* kWindowsDataFolders[] = {
    L"Microsoft", L"Package Cache", L"Packages", L"USOShared", L"USOPrivate", L"regid.1991-06.com.microsoft",
    L"Application Data", L"Desktop", L"Documents", L"Start Menu", L"Templates",
};

bool IsDotsOnly(const std::wstring& name) {
    return !name.empty() && name.find_first_not_of(L'.') == std::wstring::npos;
}

// A name the plain Win32 form would rewrite: dots only, or trailing dots or
// blanks. No folder made through that form carries one.
bool ChangedByWin32(const std::wstring& name) {
    return IsDotsOnly(name) || (!name.empty() && (name.back() == L'.' || name.back() == L' '));
}

std::vector<std::wstring> SplitAt(const std::wstring& text, size_t from) {
    std::vector<std::wstring> names;
    size_t pos = from;
    while (pos <= text.size()) {
        const size_t end = std::min(text.find(L'\\', pos), text.size());
        if (end > pos) names.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return names;
}

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool IsDriveForm(const std::wstring& text) {
    return text.size() >= 2 && text[1] == L':' && IsDriveLetter(text[0]) && (text.size() == 2 || text[2] == L'\\');
}

bool StartsWith(const std::vector<std::wstring>& parts, const std::vector<std::wstring>& prefix) {
    return !prefix.empty() && prefix.size() <= parts.size() && std::equal(prefix.begin(), prefix.end(), parts.begin());
}

bool StrictlyBelow(const std::vector<std::wstring>& parts, const std::vector<std::wstring>& folder) {
    return parts.size() > folder.size() && StartsWith(parts, folder);
}

bool EqualsAscii(const std::wstring& a, const wchar_t* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != L'\0'; ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    }
    return i == a.size() && b[i] == L'\0';
}

void Refuse(const std::wstring& path, const wchar_t* why) {
    LOG_INFO_W(L"WARN:delete refused: [%s] %s!\n", path, why);
}

// "\\localhost\C$\x" and its kin reach the local drive C: as surely as
// "C:\x" does. Only names that always mean this machine are read so; the
// machine's own network name is not known here, and a share of another
// machine is not this machine's folder.
bool LocalAdministrativeShare(const std::wstring& server, const std::wstring& share, bool anyServer) {
    const bool local = anyServer || EqualsAscii(server, L"localhost") || EqualsAscii(server, L"127.0.0.1") ||
                       EqualsAscii(server, L".") || EqualsAscii(server, L"?") ||
                       EqualsAscii(server, L"0--1.ipv6-literal.net") || EqualsAscii(server, L"--1.ipv6-literal.net");
    return local && share.size() == 2 && IsDriveLetter(share[0]) && share[1] == L'$';
}

// The drive form of a path given as a local administrative share or a
// device path ("\\.\C:\x"); the path itself otherwise.
std::wstring AsDriveForm(const std::wstring& text, bool anyServer) {
    if (text.rfind(kDevicePrefix, 0) == 0 && IsDriveForm(text.substr(4))) return text.substr(4);
    std::wstring unc;
    if (text.rfind(kLiteralUncPrefix, 0) == 0) {
        unc = text.substr(8);
    } else if (text.rfind(L"\\\\", 0) == 0 && text.rfind(kLiteralPrefix, 0) != 0 && text.rfind(kDevicePrefix, 0) != 0) {
        unc = text.substr(2);
    } else {
        return text;
    }
    const size_t serverEnd = unc.find(L'\\');
    if (serverEnd == std::wstring::npos) return text;
    const size_t shareEnd = std::min(unc.find(L'\\', serverEnd + 1), unc.size());
    const std::wstring server = unc.substr(0, serverEnd);
    const std::wstring share = unc.substr(serverEnd + 1, shareEnd - serverEnd - 1);
    if (!LocalAdministrativeShare(server, share, anyServer)) return text;
    const std::wstring drive = std::wstring(1, share[0]) + L":";
    const std::wstring rest = unc.substr(shareEnd);
    // The literal UNC form keeps its literal meaning on the drive.
    if (text.rfind(kLiteralUncPrefix, 0) == 0) return kLiteralPrefix + drive + (rest.empty() ? L"\\" : rest);
    return drive + (rest.empty() ? L"\\" : rest);
}

// A path's root and names as Windows will act on it, "." and ".." and the
// trimming of plain names done; false for a path that names no absolute
// place.
bool CanonicalText(platform::IFileSystem& files, const std::wstring& path, std::wstring& root,
                   std::vector<std::wstring>& names) {
    if (path.empty()) return false;
    std::wstring text = path;
    std::replace(text.begin(), text.end(), L'/', L'\\');
    text = AsDriveForm(text, false);
    if (text.rfind(kLiteralUncPrefix, 0) == 0) {
        const std::vector<std::wstring> unc = SplitAt(text, 8);
        if (unc.size() < 2) return false;
        for (const std::wstring& name : unc) {
            if (name == L"." || name == L"..") return false;
        }
        root = L"\\\\" + unc[0] + L"\\" + unc[1];
        names.assign(unc.begin() + 2, unc.end());
        return true;
    }
    if (text.rfind(kLiteralPrefix, 0) == 0) {
        // Names after "\\?\" reach the file system as written: nothing to
        // resolve, and "." or ".." there can only be an attempt to climb.
        const std::wstring rest = text.substr(4);
        if (!IsDriveForm(rest)) return false;
        root = rest.substr(0, 2);
        names = SplitAt(rest, 2);
        for (const std::wstring& name : names) {
            if (name == L"." || name == L"..") return false;
        }
        return true;
    }
    // Only absolute paths: a relative one would be taken against the
    // process's current folder, which says nothing of what was meant.
    const bool unc = text.rfind(L"\\\\", 0) == 0;
    if (!unc && !(IsDriveForm(text) && text.size() >= 3)) return false;
    const std::wstring full = files.FullPathName(text);
    if (IsDriveForm(full)) {
        root = full.substr(0, 2);
        names = SplitAt(full, 2);
    } else if (full.rfind(L"\\\\", 0) == 0 && full.rfind(kLiteralPrefix, 0) != 0) {
        const std::vector<std::wstring> parts = SplitAt(full, 2);
        if (parts.size() < 2) return false;
        root = L"\\\\" + parts[0] + L"\\" + parts[1];
        names.assign(parts.begin() + 2, parts.end());
    } else {
        return false;
    }
    for (const std::wstring& name : names) {
        if (ChangedByWin32(name)) return false;
    }
    return true;
}

std::wstring Joined(const std::wstring& root, const std::vector<std::wstring>& names, size_t count) {
    bool literal = false;
    for (size_t i = 0; i < count; ++i) literal = literal || ChangedByWin32(names[i]);
    std::wstring path = literal ? (root.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC" + root.substr(1) : kLiteralPrefix + root)
                                : root;
    path += L'\\';
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) path += L'\\';
        path += names[i];
    }
    return path;
}

// The folded root and names of a final path the file system gave.
bool FoldedParts(platform::IFileSystem& files, const std::wstring& final, std::vector<std::wstring>& parts) {
    std::wstring root;
    std::vector<std::wstring> names;
    std::wstring text = final;
    if (text.rfind(kLiteralUncPrefix, 0) == 0) {
        text = L"\\\\" + text.substr(8);
    } else if (text.rfind(kLiteralPrefix, 0) == 0) {
        text = text.substr(4);
    }
    if (IsDriveForm(text)) {
        root = text.substr(0, 2);
        names = SplitAt(text, 2);
    } else if (text.rfind(L"\\\\", 0) == 0) {
        const std::vector<std::wstring> unc = SplitAt(text, 2);
        if (unc.size() < 2) return false;
        root = L"\\\\" + unc[0] + L"\\" + unc[1];
        names.assign(unc.begin() + 2, unc.end());
    } else {
        return false;
    }
    parts.clear();
    parts.push_back(files.CaseFoldedPath(root));
    for (const std::wstring& name : names) parts.push_back(files.CaseFoldedPath(name));
    return true;
}

std::wstring TrimmedLocation(std::wstring text) {
    for (;;) {
        const size_t before = text.size();
        while (!text.empty() && (std::iswspace(text.front()) || text.front() == L'"' || text.front() == L'\'')) {
            text.erase(0, 1);
        }
        while (!text.empty() && (std::iswspace(text.back()) || text.back() == L'"' || text.back() == L'\'')) {
            text.pop_back();
        }
        if (text.size() == before) return text;
    }
}

// The folders holding the key paths of a product's installed components,
// from its cached package's Component table. Registry key paths ("02:\...")
// are no folder. Each package is read once per process and version of it.
std::vector<std::wstring> ComponentFolders(platform::Platform& os, const std::wstring& productCode) {
    platform::IInstaller& installer = os.Installer();
    std::wstring package;
    if (installer.GetProductInfo(productCode, L"LocalPackage", package) != platform::kErrSuccess || package.empty()) {
        return {};
    }
    const auto info = os.Files().GetAttributesEx(package);
    if (!info) return {};
    const std::wstring key = productCode + L"|" + package + L"|" + std::to_wstring(info->size) + L"|" +
                             std::to_wstring(info->lastWriteTime);
    static std::mutex cacheLock;
    static std::map<std::wstring, std::vector<std::wstring>> cache;
    {
        std::lock_guard<std::mutex> lock(cacheLock);
        const auto known = cache.find(key);
        if (known != cache.end()) return known->second;
    }
    std::vector<std::wstring> folders;
    if (auto database = installer.OpenDatabase(package)) {
        if (auto view = (*database)->OpenView(L"SELECT `ComponentId` FROM `Component`")) {
            if ((*view)->Execute() == platform::kErrSuccess) {
                while (auto record = (*view)->Fetch()) {
                    std::wstring path;
                    const int state = installer.GetComponentPath(productCode, (*record)->GetString(1), path);
                    if (state != platform::kInstallStateLocal || path.size() < 3 ||
                        (path[0] >= L'0' && path[0] <= L'9')) {
                        continue;
                    }
                    // A folder key path ends in "\" and names its folder.
                    const size_t cut = path.rfind(L'\\');
                    const std::wstring folder = path.substr(0, cut);
                    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
                }
            }
        }
    }
    std::lock_guard<std::mutex> lock(cacheLock);
    cache[key] = folders;
    return folders;
}

std::vector<std::wstring> MachineDrives(platform::IMachineInfo& machine) {
    std::vector<std::wstring> drives;
    for (const std::wstring& root : machine.LogicalDrives()) {
        if (!root.empty() && IsDriveLetter(root[0])) drives.push_back(root.substr(0, 1) + L":");
    }
    return drives;
}

}  // namespace

DeletionGuard::DeletionGuard(platform::Platform& os, std::vector<std::wstring> leavingProducts)
    : os_(os), leaving_(std::move(leavingProducts)) {
    platform::IMachineInfo& machine = os_.Machine();
    for (int id : {platform::csidl::kWindows, platform::csidl::kSystem, platform::csidl::kSystemX86}) {
        Protect(windows_, machine.SpecialFolder(id));
    }
    for (int id : {platform::csidl::kProfile, platform::csidl::kAppData, platform::csidl::kLocalAppData,
                   platform::csidl::kMyMusic, platform::csidl::kPersonal, platform::csidl::kDesktopDirectory}) {
        Protect(known_, machine.SpecialFolder(id));
    }
    std::vector<std::wstring> programFolders;
    for (int id : {platform::csidl::kProgramFiles, platform::csidl::kProgramFilesX86,
                   platform::csidl::kProgramFilesCommon, platform::csidl::kProgramFilesCommonX86}) {
        programFolders.push_back(machine.SpecialFolder(id));
    }
    // A 32-bit program is told the x86 Program Files for both CSIDLs; the
    // native pair beside it is just as much Windows'.
    for (int id : {platform::csidl::kProgramFiles, platform::csidl::kProgramFilesX86}) {
        const std::wstring folder = machine.SpecialFolder(id);
        const size_t cut = folder.rfind(L'\\');
        if (cut == std::wstring::npos) continue;
        const std::wstring parent = folder.substr(0, cut);
        for (const wchar_t* name : {L"\\Program Files", L"\\Program Files (x86)"}) {
            programFolders.push_back(parent + name);
            programFolders.push_back(parent + name + L"\\Common Files");
        }
    }
    for (const std::wstring& folder : programFolders) {
        if (folder.empty()) continue;
        Protect(known_, folder);
        Protect(programRoots_, folder);
        for (const wchar_t* name : kWindowsProgramFolders) Protect(known_, folder + L"\\" + name);
    }
    const std::wstring programData = machine.SpecialFolder(platform::csidl::kCommonAppData);
    if (!programData.empty()) {
        Protect(known_, programData);
        Protect(programRoots_, programData);
        for (const wchar_t* name : kWindowsDataFolders) Protect(known_, programData + L"\\" + name);
    }
    const std::wstring profile = machine.SpecialFolder(platform::csidl::kProfile);
    const size_t cut = profile.rfind(L'\\');
    if (cut != std::wstring::npos && cut > 2) ProtectProfiles(profile.substr(0, cut));
    const std::wstring windows = machine.SpecialFolder(platform::csidl::kWindows);
    if (windows.size() >= 2) Protect(known_, windows.substr(0, 2) + L"\\Documents and Settings");
}

void DeletionGuard::Protect(std::vector<Parts>& set, const std::wstring& folder) {
    // A folder that is not there is lost by no deletion, and nearly all the
    // names a profile may hold are missing from any one profile.
    if (!os_.Files().Exists(folder)) return;
    const Judged judged = Judge(folder);
    if (!judged.valid) return;
    set.push_back(judged.where);
    if (judged.leadsTo != judged.where) set.push_back(judged.leadsTo);
}

// Every folder of the profiles folder is someone's profile (or Public, or
// Default, from which new profiles are made).
void DeletionGuard::ProtectProfiles(const std::wstring& profilesFolder) {
    Protect(known_, profilesFolder);
    platform::IFileSystem& files = os_.Files();
    std::vector<std::wstring> profiles;
    platform::FindData entry;
    if (auto search = files.FindFirst(profilesFolder + L"\\*", entry)) {
        do {
            if (entry.name == L"." || entry.name == L".." || !(entry.attributes & platform::kAttrDirectory)) continue;
            profiles.push_back(profilesFolder + L"\\" + entry.name);
        } while ((*search)->Next(entry));
    }
    for (const std::wstring& folder : profiles) {
        Protect(known_, folder);
        // One listing of the profile says which of the many names it has.
        std::vector<std::wstring> present;
        if (auto search = files.FindFirst(folder + L"\\*", entry)) {
            do {
                if (!(entry.attributes & platform::kAttrDirectory)) continue;
                present.push_back(files.CaseFoldedPath(entry.name));
                // Cloud folders are named after their service and account
                // ("OneDrive - Contoso").
                if (present.back().rfind(files.CaseFoldedPath(L"OneDrive"), 0) == 0) {
                    Protect(known_, folder + L"\\" + entry.name);
                }
            } while ((*search)->Next(entry));
        }
        for (const wchar_t* name : kProfileFolders) {
            const std::wstring relative = name;
            const std::wstring first = files.CaseFoldedPath(relative.substr(0, relative.find(L'\\')));
            if (std::find(present.begin(), present.end(), first) == present.end()) continue;
            Protect(known_, folder + L"\\" + relative);
        }
    }
}

void DeletionGuard::ReadProductLocations() const {
    if (productsRead_) return;
    productsRead_ = true;
    platform::IInstaller& installer = os_.Installer();
    platform::IFileSystem& files = os_.Files();
    std::vector<std::wstring> leaving;
    for (const std::wstring& code : leaving_) leaving.push_back(files.CaseFoldedPath(code));
    for (uint32_t index = 0;; ++index) {
        std::wstring code;
        if (installer.EnumProducts(index, code) != platform::kErrSuccess) break;
        if (std::find(leaving.begin(), leaving.end(), files.CaseFoldedPath(code)) != leaving.end()) continue;
        std::wstring location;
        if (installer.GetProductInfo(code, L"InstallLocation", location) != platform::kErrSuccess) continue;
        if (TrimmedLocation(location).empty()) {
            // No location recorded does not make the product's files fair
            // game: its components say where they are.
            for (const std::wstring& folder : ComponentFolders(os_, code)) {
                for (Parts& form : LocationForms(folder)) products_.push_back(std::move(form));
            }
            continue;
        }
        for (Parts& form : LocationForms(location)) products_.push_back(std::move(form));
    }
}

DeletionGuard::Judged DeletionGuard::Judge(const std::wstring& path) const {
    Judged judged;
    std::wstring root;
    std::vector<std::wstring> names;
    if (!CanonicalText(os_.Files(), path, root, names)) return judged;
    judged.path = Joined(root, names, names.size());
    platform::IFileSystem& files = os_.Files();
    // The folder the entry stands in, every link on the way followed: that
    // is where deleting the entry takes something away.
    const std::wstring folder = names.empty() ? judged.path : Joined(root, names, names.size() - 1);
    const std::wstring finalFolder = files.FinalPathName(folder);
    if (finalFolder.empty() || !FoldedParts(files, finalFolder, judged.where)) return judged;
    if (!names.empty()) judged.where.push_back(files.CaseFoldedPath(names.back()));
    const std::wstring finalEntry = names.empty() ? finalFolder : files.FinalPathName(judged.path);
    if (finalEntry.empty() || !FoldedParts(files, finalEntry, judged.leadsTo)) judged.leadsTo = judged.where;
    judged.valid = true;
    return judged;
}

std::vector<std::vector<std::wstring>> DeletionGuard::LocationForms(const std::wstring& location) const {
    std::vector<std::wstring> spellings;
    const std::wstring trimmed = TrimmedLocation(location);
    if (trimmed.empty()) return {};
    spellings.push_back(trimmed);
    if (trimmed.find(L'%') != std::wstring::npos) {
        spellings.push_back(TrimmedLocation(os_.Process().ExpandEnvironmentStrings(trimmed)));
    }
    std::vector<std::wstring> forms;
    for (std::wstring spelling : spellings) {
        std::replace(spelling.begin(), spelling.end(), L'/', L'\\');
        // Any server's administrative share, and a literal path with dots
        // in it: what the location may have meant, not what a deletion may
        // be handed.
        spelling = AsDriveForm(spelling, true);
        if (spelling.rfind(kLiteralPrefix, 0) == 0 && spelling.rfind(kLiteralUncPrefix, 0) != 0) {
            forms.push_back(spelling);
            spelling = spelling.substr(4);
        }
        if (IsDriveForm(spelling) && spelling.size() >= 3) {
            forms.push_back(spelling);
        } else if (spelling.rfind(L"\\\\", 0) == 0) {
            forms.push_back(spelling);
        } else {
            // No drive (rooted, drive-relative or relative): it may stand on
            // any of them.
            std::wstring rest = spelling;
            if (rest.size() >= 2 && rest[1] == L':') rest = rest.substr(2);
            while (!rest.empty() && rest.front() == L'\\') rest.erase(0, 1);
            for (const std::wstring& drive : MachineDrives(os_.Machine())) forms.push_back(drive + L"\\" + rest);
        }
    }
    std::vector<Parts> result;
    for (const std::wstring& form : forms) {
        Judged judged = Judge(form);
        if (!judged.valid) {
            // Names Win32 would trim still say where the folder is meant.
            judged = Judge(os_.Files().FullPathName(form));
            if (!judged.valid) continue;
        }
        result.push_back(judged.where);
        if (judged.leadsTo != judged.where) result.push_back(judged.leadsTo);
    }
    return result;
}

bool DeletionGuard::IsPlainName(const std::wstring& name) {
    return !name.empty() && name.find_first_of(L"\\/:") == std::wstring::npos && !IsDotsOnly(name);
}

const wchar_t* DeletionGuard::TreeRefusal(const Judged& folder, const std::vector<Parts>& keep) const {
    // A link is removed as a link, whatever it leads to: only where it
    // stands is judged. A folder that is no link leads where it stands.
    for (const Parts* parts : {&folder.where}) {
        if (parts->size() <= 1) return L"is a drive root";
        for (const Parts& windows : windows_) {
            if (StartsWith(*parts, windows)) return L"is in the Windows folder";
        }
        for (const Parts& known : known_) {
            if (StartsWith(known, *parts)) return L"is or holds a known folder";
        }
        for (const Parts& product : products_) {
            if (StartsWith(product, *parts)) return L"is or holds an installed product's folder";
        }
        for (const Parts& kept : keep) {
            if (StartsWith(kept, *parts)) return L"is or holds another product's install folder";
        }
    }
    return nullptr;
}

bool DeletionGuard::Allows(const std::wstring& folder, std::wstring& canonical, const std::vector<std::wstring>& keep,
                           bool productFolder, bool report) const {
    const auto refuse = [&](const wchar_t* why) {
        if (report) Refuse(folder, why);
        return false;
    };
    const Judged target = Judge(folder);
    if (!target.valid) {
        return refuse(L"is no plain absolute path on this machine");
    }
    ReadProductLocations();
    std::vector<Parts> kept;
    for (const std::wstring& location : keep) {
        for (Parts& form : LocationForms(location)) kept.push_back(std::move(form));
    }
    if (const wchar_t* why = TreeRefusal(target, kept)) {
        return refuse(why);
    }
    if (productFolder && std::none_of(programRoots_.begin(), programRoots_.end(),
                                      [&](const Parts& root) { return StrictlyBelow(target.where, root); })) {
        return refuse(L"is not below a folder programs are installed into");
    }
    if (productFolder && InsideAnotherProduct(target.where)) {
        return refuse(L"lies inside another installed product's folder");
    }
    canonical = target.path;
    return true;
}

// A product's folder inside another product's folder is that product's
// too. A location that is itself one of Windows' folders (a registry that
// says "C:\Program Files") names no product folder and is left out, or one
// bent record would stop every clean-up.
bool DeletionGuard::InsideAnotherProduct(const Parts& folder) const {
    for (const Parts& product : products_) {
        if (!StrictlyBelow(folder, product)) continue;
        const bool ownFolder =
            std::any_of(programRoots_.begin(), programRoots_.end(),
                        [&](const Parts& root) { return StrictlyBelow(product, root); }) &&
            std::none_of(known_.begin(), known_.end(), [&](const Parts& known) { return known == product; });
        if (ownFolder) return true;
    }
    return false;
}

bool DeletionGuard::AllowsTree(const std::wstring& folder, std::wstring& canonical,
                               const std::vector<std::wstring>& keep) const {
    return Allows(folder, canonical, keep, false);
}

bool DeletionGuard::AllowsProductTree(const std::wstring& folder, std::wstring& canonical,
                                      const std::vector<std::wstring>& keep) const {
    return Allows(folder, canonical, keep, true);
}

bool DeletionGuard::WouldAllowProductTree(const std::wstring& folder) const {
    std::wstring canonical;
    return Allows(folder, canonical, {}, true, false);
}

bool DeletionGuard::AllowsFile(const std::wstring& path, std::wstring& canonical) const {
    std::wstring text = path;
    std::replace(text.begin(), text.end(), L'/', L'\\');
    const size_t start = text.rfind(kLiteralPrefix, 0) == 0 ? 4 : 0;
    if (text.find(L':', start + 2) != std::wstring::npos) {
        Refuse(path, L"names a stream or is no plain path");
        return false;
    }
    for (const std::wstring& name : SplitAt(text, start)) {
        if (IsDotsOnly(name)) {
            Refuse(path, L"climbs out of its folder");
            return false;
        }
    }
    std::wstring root;
    std::vector<std::wstring> names;
    if (!CanonicalText(os_.Files(), path, root, names) || names.empty()) {
        Refuse(path, L"is no plain absolute path");
        return false;
    }
    platform::IFileSystem& files = os_.Files();
    const std::wstring folder = Joined(root, names, names.size() - 1);
    if (folder != lastFolder_) {
        const std::wstring final = files.FinalPathName(folder);
        lastFolder_.clear();
        if (final.empty() || !FoldedParts(files, final, lastFolderParts_)) {
            Refuse(path, L"is no plain absolute path on this machine");
            return false;
        }
        lastFolder_ = folder;
    }
    Parts where = lastFolderParts_;
    where.push_back(files.CaseFoldedPath(names.back()));
    for (const Parts& windows : windows_) {
        if (StartsWith(where, windows)) {
            Refuse(path, L"is in the Windows folder");
            return false;
        }
    }
    for (const Parts& known : known_) {
        if (known == where) {
            Refuse(path, L"is a known folder");
            return false;
        }
    }
    canonical = Joined(root, names, names.size());
    return true;
}
