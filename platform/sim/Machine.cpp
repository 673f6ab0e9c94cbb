#include "platform/sim/Machine.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/sim/HostPath.h"
#include "platform/sim/MachineJson.h"
#include "platform/sim/UniqueFd.h"
#include "platform/sim/WinPath.h"

namespace sim {

namespace fs = std::filesystem;

namespace {

constexpr const char* kStateFile = "machine.json";

std::string Errno(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

void WriteFileAtomically(const std::string& path, const std::string& text) {
    static std::atomic<unsigned> counter{0};
    // Unique per process and call: two processes or threads saving the same
    // machine must not write into one temporary file.
    const std::string temp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.Get() < 0) throw std::runtime_error(Errno("cannot create", temp));
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd.Get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const std::string message = Errno("cannot write", temp);
            ::unlink(temp.c_str());
            throw std::runtime_error(message);
        }
        done += static_cast<size_t>(n);
    }
    ::fsync(fd.Get());
    if (::close(fd.Release()) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string message = Errno("cannot replace", path);
        ::unlink(temp.c_str());
        throw std::runtime_error(message);
    }
}

// The metadata key of a path; empty when the path is not one the seam
// could be given.
std::wstring KeyOf(const std::wstring& winPath) {
    WinPath path;
    return WinPath::Parse(winPath, path) ? path.Key() : std::wstring();
}

// Removes `key` and every key below it, returning them by their suffix
// after `key` ("" for `key` itself, "\\name" for a child).
std::map<std::wstring, FileMeta> TakeTree(std::map<std::wstring, FileMeta>& files, const std::wstring& key) {
    std::map<std::wstring, FileMeta> taken;
    for (auto it = files.lower_bound(key); it != files.end();) {
        const std::wstring& name = it->first;
        if (name.compare(0, key.size(), key) != 0) break;
        const bool below = name.size() == key.size() || name[key.size()] == L'\\' || key.back() == L'\\';
        if (!below) {
            ++it;
            continue;
        }
        taken[name.substr(key.size())] = it->second;
        it = files.erase(it);
    }
    return taken;
}

}  // namespace

Machine::Machine(Token, std::string folder) : folder_(std::move(folder)) {}

std::shared_ptr<Machine> Machine::Open(const std::string& folder) {
    auto machine = std::make_shared<Machine>(Token{}, folder);
    const std::string statePath = folder + "/" + kStateFile;
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) throw std::runtime_error("cannot create machine folder " + folder + ": " + ec.message());

    if (!fs::exists(statePath, ec)) {
        machine->state_ = MachineState::Default();
        machine->CreateDriveFolders();
        machine->CreateShellFolders();
        machine->Save();
        return machine;
    }
    std::ifstream in(statePath, std::ios::binary);
    if (!in) throw std::runtime_error(Errno("cannot read", statePath));
    std::stringstream text;
    text << in.rdbuf();
    nlohmann::json doc;
    try {
        doc = nlohmann::json::parse(text.str());
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error("corrupt " + statePath + ": " + e.what());
    }
    machine->state_ = ReadState(doc);
    machine->document_ = std::move(doc);
    // A drive the state lists has a root, even in a hand-written machine.
    machine->CreateDriveFolders();
    return machine;
}

void Machine::Save() {
    std::lock_guard<std::mutex> lock(mutex_);
    SaveLocked();
}

void Machine::SaveMetaLocked() {
    // The file operation that changed the metadata has already happened and
    // cannot be reported as failed; the next save writes it again.
    try {
        SaveLocked();
    } catch (const std::runtime_error&) {
    }
}

void Machine::SaveLocked() {
    WriteState(state_, document_);
    WriteFileAtomically(folder_ + "/" + kStateFile, document_.dump(2) + "\n");
}

MachineState Machine::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

void Machine::SetWindows(uint32_t major, uint32_t minor, uint32_t build, bool windows64) {
    Modify([&](MachineState& state) { state.SetWindows(major, minor, build, windows64); });
    CreateShellFolders();
}

void Machine::SetWindows(WindowsRelease release, bool windows64) {
    Modify([&](MachineState& state) { state.SetWindows(release, windows64); });
    CreateShellFolders();
}

bool Machine::HasDrive(wchar_t letter) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const DriveInfo& drive : state_.drives) {
        if (drive.letter == letter) return true;
    }
    return false;
}

std::string Machine::DriveFolder(wchar_t letter) const {
    return folder_ + "/drives/" + static_cast<char>(letter);
}

bool Machine::Resolve(const std::wstring& winPath, std::string& hostPath) const {
    WinPath path;
    return WinPath::Parse(winPath, path) && Resolve(path, hostPath);
}

bool Machine::Resolve(const WinPath& path, std::string& hostPath, HostNode* node) const {
    if (!HasDrive(path.Drive())) return false;
    hostPath = ResolveComponents(DriveFolder(path.Drive()), path.Components(), node);
    return true;
}

void Machine::CreateDriveFolders() const {
    std::vector<wchar_t> letters;
    Read([&](const MachineState& state) {
        for (const DriveInfo& drive : state.drives) letters.push_back(drive.letter);
        return 0;
    });
    for (wchar_t letter : letters) {
        std::error_code ec;
        fs::create_directories(DriveFolder(letter), ec);
    }
}

void Machine::CreateShellFolders() const {
    std::vector<std::wstring> folders;
    Read([&](const MachineState& state) {
        for (const auto& entry : state.specialFolders) folders.push_back(entry.second);
        for (const std::wstring& module : {state.hostProgram, state.libraryModule}) {
            WinPath path;
            if (WinPath::Parse(module, path)) folders.push_back(path.Parent().ToString());
        }
        return 0;
    });
    for (const std::wstring& folder : folders) {
        std::string host;
        if (!Resolve(folder, host)) continue;
        std::error_code ec;
        fs::create_directories(host, ec);
    }
}

void Machine::HoldFile(const std::wstring& winPath) {
    const std::wstring key = KeyOf(winPath);
    if (key.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    state_.heldFiles.insert(key);
}

void Machine::ReleaseFile(const std::wstring& winPath) {
    const std::wstring key = KeyOf(winPath);
    std::lock_guard<std::mutex> lock(mutex_);
    state_.heldFiles.erase(key);
}

bool Machine::IsHeld(const std::wstring& winPath) const {
    const std::wstring key = KeyOf(winPath);
    if (key.empty()) return false;
    const std::wstring below = key.back() == L'\\' ? key : key + L'\\';
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.heldFiles.count(key) != 0) return true;
    auto it = state_.heldFiles.lower_bound(below);
    return it != state_.heldFiles.end() && it->compare(0, below.size(), below) == 0;
}

FileMeta Machine::Meta(const std::wstring& winPath) const {
    WinPath path;
    return WinPath::Parse(winPath, path) ? Meta(path) : FileMeta{};
}

FileMeta Machine::Meta(const WinPath& path) const {
    const std::wstring key = path.Key();
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = state_.files.find(key);
    return it == state_.files.end() ? FileMeta{} : it->second;
}

void Machine::SetMeta(const std::wstring& winPath, const FileMeta& meta) {
    const std::wstring key = KeyOf(winPath);
    if (key.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (meta.Empty()) {
        if (state_.files.erase(key) == 0) return;
    } else {
        state_.files[key] = meta;
    }
    SaveMetaLocked();
}

void Machine::ForgetMeta(const std::wstring& winPath) {
    const std::wstring key = KeyOf(winPath);
    if (key.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!TakeTree(state_.files, key).empty()) SaveMetaLocked();
}

void Machine::MoveMeta(const std::wstring& from, const std::wstring& to) {
    const std::wstring fromKey = KeyOf(from);
    const std::wstring toKey = KeyOf(to);
    if (fromKey.empty() || toKey.empty() || fromKey == toKey) return;
    std::lock_guard<std::mutex> lock(mutex_);
    // Whatever was recorded for the destination belonged to a file that is
    // gone; the moved entry brings its own.
    bool changed = !TakeTree(state_.files, toKey).empty();
    for (auto& [suffix, meta] : TakeTree(state_.files, fromKey)) {
        state_.files[toKey + suffix] = meta;
        changed = true;
    }
    if (changed) SaveMetaLocked();
}

nlohmann::json Machine::Section(const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = document_.find(key);
    return it == document_.end() ? nlohmann::json() : *it;
}

void Machine::SetSection(const std::string& key, nlohmann::json value) {
    std::lock_guard<std::mutex> lock(mutex_);
    document_[key] = std::move(value);
}

}  // namespace sim
