#include "platform/sim/store/Machine.h"

#include <filesystem>
#include <mutex>
#include <set>
#include <stdexcept>

#include "platform/sim/files/HostPath.h"
#include "platform/sim/files/StockLinks.h"
#include "platform/sim/Utf8.h"
#include "platform/sim/files/WinPath.h"
#include "platform/sim/files/WindowsName.h"

namespace sim {

namespace fs = std::filesystem;

namespace {

// The metadata key of a path; empty when the path is not one the seam
// could be given.
std::wstring KeyOf(const std::wstring& winPath) {
    WinPath path;
    return WinPath::Parse(winPath, path) ? path.Key() : std::wstring();
}

// Whether `name` is `key` or lies below it.
bool InTree(const std::wstring& name, const std::wstring& key) {
    if (name.compare(0, key.size(), key) != 0) return false;
    return name.size() == key.size() || name[key.size()] == L'\\' || key.back() == L'\\';
}

bool HasTree(const std::map<std::wstring, FileMeta>& files, const std::wstring& key) {
    for (auto it = files.lower_bound(key); it != files.end() && it->first.compare(0, key.size(), key) == 0; ++it) {
        if (InTree(it->first, key)) return true;
    }
    return false;
}

// Removes `key` and every key below it, returning them by their suffix
// after `key` ("" for `key` itself, "\\name" for a child).
std::map<std::wstring, FileMeta> TakeTree(std::map<std::wstring, FileMeta>& files, const std::wstring& key) {
    std::map<std::wstring, FileMeta> taken;
    for (auto it = files.lower_bound(key); it != files.end() && it->first.compare(0, key.size(), key) == 0;) {
        if (!InTree(it->first, key)) {
            ++it;
            continue;
        }
        taken[it->first.substr(key.size())] = it->second;
        it = files.erase(it);
    }
    return taken;
}

}  // namespace

Machine::Machine(Token, std::string folder)
    : store_(MachineStore::Open<MachineState>(std::move(folder))), openHolds_(std::make_shared<OpenHolds>()) {}

std::shared_ptr<Machine> Machine::Open(const std::string& folder) {
    auto machine = std::make_shared<Machine>(Token{}, folder);
    // A drive the state lists has a root, even in a hand-written machine.
    machine->CreateDriveFolders();
    if (machine->store_->Created()) machine->CreateShellFolders();
    return machine;
}

void Machine::SetWindows(uint32_t major, uint32_t minor, uint32_t build, bool windows64) {
    Edit([&](MachineState& state) { state.SetWindows(major, minor, build, windows64); });
    CreateShellFolders();
}

void Machine::SetWindows(WindowsRelease release, bool windows64) {
    Edit([&](MachineState& state) { state.SetWindows(release, windows64); });
    CreateShellFolders();
}

bool Machine::HasDrive(wchar_t letter) const {
    return Read([letter](const MachineState& state) {
        for (const DriveInfo& drive : state.drives) {
            if (drive.letter == letter) return true;
        }
        return false;
    });
}

std::string Machine::DriveFolder(wchar_t letter) const { return Folder() + "/drives/" + static_cast<char>(letter); }

bool Machine::Resolve(const std::wstring& winPath, std::string& hostPath) const {
    WinPath path;
    return WinPath::Parse(winPath, path) && Resolve(path, hostPath);
}

bool Machine::Resolve(const WinPath& path, std::string& hostPath, HostNode* node) const {
    if (!HasDrive(path.Drive())) return false;
    // A name no Windows file can have reaches nothing: on the host it could
    // name an entry listings leave out, or a stream the host has no room for.
    for (const std::wstring& component : path.Components()) {
        if (!IsWindowsName(component)) return false;
    }
    hostPath = ResolveComponents(DriveFolder(path.Drive()), path.Components(), node);
    return true;
}

bool Machine::PathOfHostEntry(const std::string& hostPath, WinPath& path) const {
    const size_t slash = hostPath.rfind('/');
    if (slash == std::string::npos || slash + 1 == hostPath.size()) return false;
    std::error_code ec;
    const fs::path folder = fs::canonical(hostPath.substr(0, slash), ec);
    if (ec) return false;
    std::vector<wchar_t> letters;
    Read([&](const MachineState& state) {
        for (const DriveInfo& drive : state.drives) letters.push_back(drive.letter);
    });
    for (wchar_t letter : letters) {
        const fs::path root = fs::canonical(DriveFolder(letter), ec);
        if (ec) continue;
        const fs::path below = folder.lexically_relative(root);
        if (below.empty() || *below.begin() == "..") continue;
        WinPath found;
        if (!WinPath::Parse(std::wstring(1, letter) + L":\\", found)) return false;
        for (const fs::path& name : below) {
            if (name != ".") found = found.Child(FromUtf8(name.string()));
        }
        path = found.Child(FromUtf8(hostPath.substr(slash + 1)));
        return true;
    }
    return false;
}

void Machine::CreateDriveFolders() const {
    std::vector<wchar_t> letters;
    Read([&](const MachineState& state) {
        for (const DriveInfo& drive : state.drives) letters.push_back(drive.letter);
    });
    for (wchar_t letter : letters) {
        std::error_code ec;
        fs::create_directories(DriveFolder(letter), ec);
    }
}

void Machine::CreateShellFolders() {
    std::vector<std::wstring> folders;
    Read([&](const MachineState& state) {
        for (const auto& entry : state.specialFolders) folders.push_back(entry.second);
        for (const std::wstring& module : {state.hostProgram, state.libraryModule}) {
            WinPath path;
            if (WinPath::Parse(module, path)) folders.push_back(path.Parent().ToString());
        }
    });
    for (const std::wstring& folder : folders) {
        std::string host;
        if (!Resolve(folder, host)) continue;
        std::error_code ec;
        fs::create_directories(host, ec);
    }
    CreateStockLinks(*this);
}

template <typename Idle, typename EditF>
void Machine::EditMetaUnlessIdle(Idle&& idle, EditF&& edit) {
    if (Read(idle)) return;
    try {
        Edit(edit);
    } catch (const std::runtime_error&) {
        // See Machine.h: the file operation itself has happened.
    }
}

void Machine::HoldFile(const std::wstring& winPath) {
    const std::wstring key = KeyOf(winPath);
    if (key.empty()) return;
    Edit([&](MachineState& state, bool& changed) { changed = state.heldFiles.insert(key).second; });
}

void Machine::ReleaseFile(const std::wstring& winPath) {
    const std::wstring key = KeyOf(winPath);
    Edit([&](MachineState& state, bool& changed) { changed = state.heldFiles.erase(key) != 0; });
}

struct Machine::OpenHolds {
    std::mutex mutex;
    std::multiset<std::wstring> keys;
};

std::shared_ptr<void> Machine::HoldWhileOpen(const std::wstring& winPath) {
    const std::wstring key = KeyOf(winPath);
    if (key.empty()) return nullptr;
    std::shared_ptr<OpenHolds> holds = openHolds_;
    {
        std::lock_guard<std::mutex> lock(holds->mutex);
        holds->keys.insert(key);
    }
    return std::shared_ptr<void>(nullptr, [holds, key](void*) {
        std::lock_guard<std::mutex> lock(holds->mutex);
        auto it = holds->keys.find(key);
        if (it != holds->keys.end()) holds->keys.erase(it);
    });
}

bool Machine::IsHeld(const std::wstring& winPath) const {
    const std::wstring key = KeyOf(winPath);
    if (key.empty()) return false;
    const std::wstring below = key.back() == L'\\' ? key : key + L'\\';
    {
        std::lock_guard<std::mutex> lock(openHolds_->mutex);
        if (openHolds_->keys.count(key) != 0) return true;
        auto it = openHolds_->keys.lower_bound(below);
        if (it != openHolds_->keys.end() && it->compare(0, below.size(), below) == 0) return true;
    }
    return Read([&](const MachineState& state) {
        if (state.heldFiles.count(key) != 0) return true;
        auto it = state.heldFiles.lower_bound(below);
        return it != state.heldFiles.end() && it->compare(0, below.size(), below) == 0;
    });
}

FileMeta Machine::Meta(const std::wstring& winPath) const {
    WinPath path;
    return WinPath::Parse(winPath, path) ? Meta(path) : FileMeta{};
}

FileMeta Machine::Meta(const WinPath& path) const {
    const std::wstring key = path.Key();
    return Read([&](const MachineState& state) {
        auto it = state.files.find(key);
        return it == state.files.end() ? FileMeta{} : it->second;
    });
}

std::map<std::wstring, FileMeta> Machine::ChildMeta(const WinPath& folder) const {
    // A child's key is the folder's key, a backslash (none after a root)
    // and the folded name, the whole in the "\\?\" form when the folder's
    // path or the name needs it. Keys are ordered, so the children
    // lie in at most two ranges, interleaved with deeper entries that are
    // jumped over a subtree at a time.
    std::wstring plain = folder.Key();
    if (plain.back() != L'\\') plain.push_back(L'\\');
    const std::wstring literalPrefix = L"\\\\?\\";
    const bool literal = plain.rfind(literalPrefix, 0) == 0;
    return Read([&](const MachineState& state) {
        std::map<std::wstring, FileMeta> children;
        auto collect = [&](const std::wstring& prefix) {
            auto it = state.files.lower_bound(prefix);
            while (it != state.files.end() && it->first.compare(0, prefix.size(), prefix) == 0) {
                const size_t below = it->first.find(L'\\', prefix.size());
                if (below == std::wstring::npos) {
                    children.emplace(it->first.substr(prefix.size()), it->second);
                    ++it;
                    continue;
                }
                // Everything under this child sorts before its name and ']',
                // the character after the backslash.
                it = state.files.lower_bound(it->first.substr(0, below) + L']');
            }
        };
        collect(plain);
        if (!literal) collect(literalPrefix + plain);
        return children;
    });
}

void Machine::SetMeta(const std::wstring& winPath, const FileMeta& meta) {
    const std::wstring key = KeyOf(winPath);
    if (key.empty()) return;
    auto same = [&](const MachineState& state) {
        auto it = state.files.find(key);
        return it == state.files.end() ? meta.Empty() : it->second == meta;
    };
    EditMetaUnlessIdle(same, [&](MachineState& state, bool& changed) {
        if (same(state)) return;
        if (meta.Empty())
            state.files.erase(key);
        else
            state.files[key] = meta;
        changed = true;
    });
}

void Machine::ForgetMeta(const std::wstring& winPath) {
    const std::wstring key = KeyOf(winPath);
    if (key.empty()) return;
    EditMetaUnlessIdle([&](const MachineState& state) { return !HasTree(state.files, key); },
                       [&](MachineState& state, bool& changed) { changed = !TakeTree(state.files, key).empty(); });
}

void Machine::MoveMeta(const std::wstring& from, const std::wstring& to) {
    const std::wstring fromKey = KeyOf(from);
    const std::wstring toKey = KeyOf(to);
    if (fromKey.empty() || toKey.empty() || fromKey == toKey) return;
    EditMetaUnlessIdle(
        [&](const MachineState& state) { return !HasTree(state.files, fromKey) && !HasTree(state.files, toKey); },
        [&](MachineState& state, bool& changed) {
            // Whatever was recorded for the destination belonged to a file
            // that is gone; the moved entry brings its own.
            changed = !TakeTree(state.files, toKey).empty();
            for (auto& [suffix, meta] : TakeTree(state.files, fromKey)) {
                state.files[toKey + suffix] = meta;
                changed = true;
            }
        });
}

}  // namespace sim
