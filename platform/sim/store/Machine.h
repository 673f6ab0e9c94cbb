// One simulated Windows machine: its state in <folder>/machine.json and its
// drives as host folders under <folder>/drives/<letter>/. The host program,
// the library and the tests all act on the same Machine object, so every
// accessor is safe to call from any thread; other processes may act on the
// same folder at the same time.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <type_traits>

#include "platform/sim/Api.h"
#include "platform/sim/store/MachineState.h"
#include "platform/sim/store/MachineStore.h"

namespace sim {

class WinPath;
struct HostNode;

class SIM_API Machine {
    struct Token {};  // keeps construction inside Open while make_shared still works

public:
    Machine(Token, std::string folder);

    // Loads <folder>/machine.json. A missing folder or file yields the
    // default machine, created on disk with its shell folders, profiles and
    // stock junctions (StockLinks.h). An existing machine is loaded as it
    // is, only a missing drive root made: one saved before the junctions
    // existed gains none (SetWindows makes them, as Setup would).
    // Throws std::runtime_error when machine.json cannot be read or parsed.
    static std::shared_ptr<Machine> Open(const std::string& folder);

    const std::string& Folder() const { return store_->Folder(); }

    // Everything the machine remembers is kept in typed sections of
    // machine.json: MachineState (the top-level keys) and the sections the
    // other parts of the simulation declare (Registry, Services, Products,
    // ...; MachineStore.h says what a section is). Every access to one is a
    // transaction of the machine's store: reads see what any process last
    // wrote, and each edit is written to machine.json before it returns,
    // so there is nothing left to save. Transactions on one thread nest: an
    // edit inside an edit's callback joins it, whichever sections the two
    // touch; an edit inside a read's callback throws std::logic_error.
    // Edits throw std::runtime_error when machine.json cannot be written;
    // the change is then discarded.
    //
    // Read<Section>: f(const Section&). Edit<Section>: f(Section&), always
    // counted as a change, or f(Section&, bool& changed), written only when
    // the callback sets `changed`. Without a section, MachineState.
    template <typename Section = MachineState, typename F>
    auto Read(F&& f) const {
        return store_->Read<Section>(f);
    }
    template <typename Section = MachineState, typename F>
    auto Edit(F&& f) {
        return store_->Edit<Section>([&](Section& section, bool& changed) { return Apply(f, section, changed); });
    }
    template <typename Section = MachineState>
    Section Snapshot() const {
        return Read<Section>([](const Section& section) { return section; });
    }

    // Also creates the shell folders of the new release, as Setup would.
    void SetWindows(uint32_t major, uint32_t minor, uint32_t build, bool windows64);
    void SetWindows(WindowsRelease release, bool windows64 = true);

    // The host path of a Windows path, matching existing components without
    // regard to case. False for relative paths, unknown drives and names no
    // Windows file can have (WindowsName.h); a missing
    // final component still yields the path where it would be created.
    bool Resolve(const std::wstring& winPath, std::string& hostPath) const;
    // The same for a path the caller has parsed already; `node`, when given,
    // receives what the host has at `hostPath`, from the same lookup.
    bool Resolve(const WinPath& path, std::string& hostPath, HostNode* node = nullptr) const;
    // The Windows path of the host entry `hostPath` with the links in the
    // folders above it followed, the entry itself left as it is: where the
    // entry really lies when a path reached it through a junction. False
    // when that lies on none of the drives.
    bool PathOfHostEntry(const std::string& hostPath, WinPath& path) const;
    bool HasDrive(wchar_t letter) const;
    std::string DriveFolder(wchar_t letter) const;
    // Creates the host folder of every drive the state lists.
    void CreateDriveFolders() const;

    // A file some process keeps open without sharing delete access: it can
    // be read but neither deleted, moved nor written. IsHeld is also true
    // for a folder with a held file somewhere below it, which Windows will
    // not rename either.
    void HoldFile(const std::wstring& winPath);
    void ReleaseFile(const std::wstring& winPath);
    bool IsHeld(const std::wstring& winPath) const;
    // A file this process opened without sharing write or delete access
    // (the seam's Truncate opens), held as HoldFile holds one for as long as
    // the returned object lives. Only in this process: a handle goes with
    // the process that has it.
    std::shared_ptr<void> HoldWhileOpen(const std::wstring& winPath);

    // Attribute bits and creation times belong to the file system like the
    // files themselves. The file operation that changes them has already
    // happened when these run, so a failure to write machine.json is not
    // reported; the change is then lost.
    FileMeta Meta(const std::wstring& winPath) const;
    FileMeta Meta(const WinPath& path) const;
    // What is recorded for the entries directly in `folder`, by their
    // folded names (sim::Fold), in one read: a listing asks once per
    // folder, not once per entry.
    std::map<std::wstring, FileMeta> ChildMeta(const WinPath& folder) const;
    void SetMeta(const std::wstring& winPath, const FileMeta& meta);
    void ForgetMeta(const std::wstring& winPath);
    // Carries the metadata of a moved file or folder (and everything under
    // the folder) to its new name.
    void MoveMeta(const std::wstring& from, const std::wstring& to);

private:
    template <typename F, typename T>
    static auto Apply(F& f, T& target, bool& changed) {
        if constexpr (std::is_invocable_v<F&, T&, bool&>) {
            return f(target, changed);
        } else {
            changed = true;
            return f(target);
        }
    }

    // Runs `edit` unless `idle`, a read, says it would change nothing: most
    // file operations touch no metadata, and a read takes no flock.
    template <typename Idle, typename EditF>
    void EditMetaUnlessIdle(Idle&& idle, EditF&& edit);

    // The special folders, the host program's and the library's, and the
    // profiles with their stock junctions (StockLinks.h).
    void CreateShellFolders();

    std::unique_ptr<MachineStore> store_;
    // What HoldWhileOpen holds; shared with the holds, which may outlive
    // the machine object.
    struct OpenHolds;
    std::shared_ptr<OpenHolds> openHolds_;
};

}  // namespace sim
