// One simulated Windows machine: its state in <folder>/machine.json and its
// drives as host folders under <folder>/drives/<letter>/. The host program,
// the library and the tests all act on the same Machine object, so every
// accessor is safe to call from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/sim/Api.h"
#include "platform/sim/MachineState.h"

namespace sim {

class WinPath;
struct HostNode;

class SIM_API Machine {
    struct Token {};  // keeps construction inside Open while make_shared still works

public:
    Machine(Token, std::string folder);

    // Loads <folder>/machine.json. A missing folder or file yields the
    // default machine, created on disk with its shell folders and saved.
    // Throws std::runtime_error when machine.json cannot be read or parsed.
    static std::shared_ptr<Machine> Open(const std::string& folder);

    const std::string& Folder() const { return folder_; }

    // Writes machine.json through a temporary file and a rename so another
    // process never sees half a machine. Keys written by other layers of
    // the simulation are kept. Throws std::runtime_error on I/O failure.
    void Save();

    // Runs `f` on the state under the machine's lock.
    template <typename F>
    auto Read(F&& f) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(static_cast<const MachineState&>(state_));
    }
    template <typename F>
    auto Modify(F&& f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(state_);
    }
    MachineState Snapshot() const;

    // Also creates the shell folders of the new release, as Setup would.
    void SetWindows(uint32_t major, uint32_t minor, uint32_t build, bool windows64);
    void SetWindows(WindowsRelease release, bool windows64 = true);

    // The host path of a Windows path, matching existing components without
    // regard to case. False for relative paths and unknown drives; a missing
    // final component still yields the path where it would be created.
    bool Resolve(const std::wstring& winPath, std::string& hostPath) const;
    // The same for a path the caller has parsed already; `node`, when given,
    // receives what the host has at `hostPath`, from the same lookup.
    bool Resolve(const WinPath& path, std::string& hostPath, HostNode* node = nullptr) const;
    bool HasDrive(wchar_t letter) const;
    std::string DriveFolder(wchar_t letter) const;

    // A file some process keeps open without sharing delete access: it can
    // be read but neither deleted, moved nor written. IsHeld is also true
    // for a folder with a held file somewhere below it, which Windows will
    // not rename either.
    void HoldFile(const std::wstring& winPath);
    void ReleaseFile(const std::wstring& winPath);
    bool IsHeld(const std::wstring& winPath) const;

    // Attribute bits and creation times belong to the file system like the
    // files themselves, so changes to them are saved at once.
    FileMeta Meta(const std::wstring& winPath) const;
    FileMeta Meta(const WinPath& path) const;
    void SetMeta(const std::wstring& winPath, const FileMeta& meta);
    void ForgetMeta(const std::wstring& winPath);
    // Carries the metadata of a moved file or folder (and everything under
    // the folder) to its new name.
    void MoveMeta(const std::wstring& from, const std::wstring& to);

    // Top-level machine.json entries owned by other parts of the simulation
    // (registry, services, processes, products). Null when absent.
    nlohmann::json Section(const std::string& key) const;
    void SetSection(const std::string& key, nlohmann::json value);

private:
    void SaveLocked();
    void SaveMetaLocked();
    void CreateDriveFolders() const;
    void CreateShellFolders() const;

    mutable std::mutex mutex_;
    const std::string folder_;
    MachineState state_;
    nlohmann::json document_ = nlohmann::json::object();  // as last read or written
};

}  // namespace sim
