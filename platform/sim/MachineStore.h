// machine.json as every process that opens the same machine folder shares
// it. Each access is a transaction:
//
//  - an edit takes the store's in-process lock and an exclusive flock on
//    <folder>/machine.lock, reloads machine.json when another process (or
//    another store on the same folder) wrote it since this one last read
//    it, applies the change and, when the change says it changed
//    something, writes the whole file through a temporary file and a
//    rename before it lets go;
//  - a read takes the in-process lock and reloads first when the file
//    changed, holding a shared flock only while it reloads.
//
// Whether the file changed is told by a generation counter kept in the
// first eight bytes of machine.lock and mapped into memory, so a read of a
// machine nobody changed costs no system call. A writer bumps the counter
// (under its exclusive lock) before it renames the new file into place: a
// reader that still sees the old count may use what it has, one that sees
// the new count waits on the shared lock until the file is there.
//
// Transactions nest: an edit or read started inside the callback of an
// edit, on the same thread, joins it (it sees and changes the same state,
// and the outermost edit writes once). A read's callback must not start an
// edit (std::logic_error): the read holds no lock another process would
// respect. An exception that leaves any edit discards the whole
// transaction: nothing is written and the store reloads the file at its
// next use. Callbacks must not wait for other threads that use the store,
// nor use a second store on the same folder: its lock would wait for this
// one's.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include <nlohmann/json.hpp>

#include "platform/sim/Api.h"
#include "platform/sim/MachineState.h"

namespace sim {

class MachineLockFile;

class SIM_API MachineStore {
public:
    // Opens <folder>/machine.json, creating the folder and, when there is
    // no machine.json, the default machine. Throws std::runtime_error when
    // the file cannot be read, parsed or written.
    explicit MachineStore(std::string folder);
    ~MachineStore();
    MachineStore(const MachineStore&) = delete;
    MachineStore& operator=(const MachineStore&) = delete;

    const std::string& Folder() const { return folder_; }
    // True when this store wrote the default machine because there was none.
    bool Created() const { return created_; }

    // f(const MachineState&, const nlohmann::json& document); the typed
    // keys of the document are only current in the state.
    template <typename F>
    auto Read(F&& f) {
        Scope scope(*this, Access::Read);
        const MachineState& state = state_;
        const nlohmann::json& document = document_;
        if constexpr (std::is_void_v<std::invoke_result_t<F&, const MachineState&, const nlohmann::json&>>) {
            f(state, document);
            scope.Commit(false);
        } else {
            auto result = f(state, document);
            scope.Commit(false);
            return result;
        }
    }

    // f(MachineState&, nlohmann::json& document, bool& changed), where
    // `changed` starts false and the file is written only when some edit of
    // the transaction set it.
    template <typename F>
    auto Edit(F&& f) {
        Scope scope(*this, Access::Write);
        bool changed = false;
        if constexpr (std::is_void_v<std::invoke_result_t<F&, MachineState&, nlohmann::json&, bool&>>) {
            f(state_, document_, changed);
            scope.Commit(changed);
        } else {
            auto result = f(state_, document_, changed);
            scope.Commit(changed);
            return result;
        }
    }

private:
    enum class Access { Read, Write };

    // One level of a transaction; the outermost one locks and writes.
    class Scope {
    public:
        Scope(MachineStore& store, Access access) : store_(store), access_(access) { store_.Enter(access_); }
        ~Scope() { store_.Leave(access_, committed_); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
        void Commit(bool changed) {
            store_.Commit(changed);
            committed_ = true;
        }

    private:
        MachineStore& store_;
        const Access access_;
        bool committed_ = false;
    };

    void Enter(Access access);
    void Commit(bool changed);
    void Leave(Access access, bool committed);
    bool Stale() const;
    void Load();
    void Store();

    const std::string folder_;
    const std::string path_;
    std::unique_ptr<MachineLockFile> lock_;
    bool created_ = false;

    std::recursive_mutex mutex_;
    // Guarded by mutex_.
    int depth_ = 0;
    bool writing_ = false;  // the outermost scope is an edit
    bool dirty_ = false;    // some edit of the transaction changed something
    bool broken_ = false;   // some edit of the transaction did not complete
    bool loaded_ = false;   // state_ and document_ hold generation_'s file
    uint64_t generation_ = 0;
    MachineState state_;
    nlohmann::json document_ = nlohmann::json::object();
};

}  // namespace sim
