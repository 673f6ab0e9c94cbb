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
// Each section of the file (MachineState's top-level keys, the registry,
// the services, ...) is kept as a typed value: converted from the document
// the first time a transaction asks for it after the file was read, and
// back into the document when an edit changed it, just before the file is
// written. A section type names its key (`static constexpr const char*
// kKey`, "" for the top level) and has a JSON mapping (MachineJson.h). A
// section absent from the file reads as its default value, and so does one
// whose stored form cannot be read, except the top level, whose faults are
// reported.
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
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>

#include <nlohmann/json.hpp>

#include "platform/sim/Api.h"
#include "platform/sim/store/MachineJson.h"

namespace sim {

class MachineLockFile;

// machine.json could not be read, held something no machine is made of, or
// could not be written. Its own type, so that the seam calls of the machine
// can answer a Windows code for it where Windows would answer one.
class SIM_API StoreError : public std::runtime_error {
public:
    enum class Kind { Unreadable, Corrupt, Unwritable };
    StoreError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// One section's typed value, as the store keeps it between transactions.
class SIM_API SectionSlot {
public:
    explicit SectionSlot(const std::type_info& type) : type_(type) {}
    virtual ~SectionSlot() = default;
    SectionSlot(const SectionSlot&) = delete;
    SectionSlot& operator=(const SectionSlot&) = delete;

    const std::type_info& Type() const { return type_; }
    // Puts the value back into the document it came from.
    virtual void WriteTo(nlohmann::json& document) const = 0;

    bool dirty = false;  // changed since the document was read or written

protected:
    // The part of `document` a section of `key` is stored in; null when the
    // document has none.
    static const nlohmann::json* Find(const nlohmann::json& document, const char* key);
    static void Put(nlohmann::json value, const char* key, nlohmann::json& document);
    // Reports a fault in the top-level keys as a std::runtime_error naming
    // machine.json; a section elsewhere reads as its default instead.
    template <typename Convert>
    static void Read(const char* key, Convert&& convert) {
        try {
            convert();
        } catch (const nlohmann::json::exception& e) {
            Fault(key, e.what());
        } catch (const std::logic_error& e) {  // std::stoi on a bad number
            Fault(key, e.what());
        } catch (const std::runtime_error& e) {
            Fault(key, e.what());
        }
    }
    static void Fault(const char* key, const std::string& what);

private:
    const std::type_info& type_;
};

template <typename Section>
class TypedSlot final : public SectionSlot {
public:
    explicit TypedSlot(const nlohmann::json& document) : SectionSlot(typeid(Section)) {
        const nlohmann::json* stored = Find(document, Section::kKey);
        if (stored == nullptr) return;
        Read(Section::kKey, [&] {
            Section read{};
            stored->get_to(read);
            value = std::move(read);
        });
    }
    void WriteTo(nlohmann::json& document) const override { Put(nlohmann::json(value), Section::kKey, document); }

    Section value{};
};

class SIM_API MachineStore {
public:
    // Opens <folder>/machine.json, creating the folder and, when there is
    // no machine.json, the default machine (the default value of the
    // top-level section `Root`). Throws std::runtime_error when the file
    // cannot be read, parsed or written.
    template <typename Root>
    static std::unique_ptr<MachineStore> Open(std::string folder) {
        return std::unique_ptr<MachineStore>(new MachineStore(std::move(folder), [](nlohmann::json& document) {
            TypedSlot<Root>(nlohmann::json::object()).WriteTo(document);
        }));
    }
    ~MachineStore();
    MachineStore(const MachineStore&) = delete;
    MachineStore& operator=(const MachineStore&) = delete;

    const std::string& Folder() const { return folder_; }
    // True when this store wrote the default machine because there was none.
    bool Created() const { return created_; }

    // f(const Section&).
    template <typename Section, typename F>
    auto Read(F&& f) {
        Scope scope(*this, Access::Read);
        const Section& section = Slot<Section>().value;
        if constexpr (std::is_void_v<std::invoke_result_t<F&, const Section&>>) {
            f(section);
            scope.Commit(nullptr, false);
        } else {
            auto result = f(section);
            scope.Commit(nullptr, false);
            return result;
        }
    }

    // f(Section&, bool& changed), where `changed` starts false and the
    // file is written only when some edit of the transaction set it.
    template <typename Section, typename F>
    auto Edit(F&& f) {
        Scope scope(*this, Access::Write);
        TypedSlot<Section>& slot = Slot<Section>();
        bool changed = false;
        if constexpr (std::is_void_v<std::invoke_result_t<F&, Section&, bool&>>) {
            f(slot.value, changed);
            scope.Commit(&slot, changed);
        } else {
            auto result = f(slot.value, changed);
            scope.Commit(&slot, changed);
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
        void Commit(SectionSlot* slot, bool changed) {
            store_.Commit(slot, changed);
            committed_ = true;
        }

    private:
        MachineStore& store_;
        const Access access_;
        bool committed_ = false;
    };

    using CreateDefault = void (*)(nlohmann::json& document);
    MachineStore(std::string folder, CreateDefault createDefault);

    // The section's value for the current document, converted at its first
    // use since the file was read. Called inside a transaction.
    template <typename Section>
    TypedSlot<Section>& Slot() {
        auto it = slots_.find(std::string_view(Section::kKey));
        if (it == slots_.end()) {
            it = slots_.emplace(Section::kKey, std::make_unique<TypedSlot<Section>>(document_)).first;
        } else if (it->second->Type() != typeid(Section)) {
            throw std::logic_error(std::string("two section types claim machine.json key \"") + Section::kKey + "\"");
        }
        return static_cast<TypedSlot<Section>&>(*it->second);
    }

    void Enter(Access access);
    void Commit(SectionSlot* slot, bool changed);
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
    bool loaded_ = false;   // document_ holds generation_'s file
    uint64_t generation_ = 0;
    nlohmann::json document_ = nlohmann::json::object();
    // The sections converted from document_ so far, by key.
    std::map<std::string, std::unique_ptr<SectionSlot>, std::less<>> slots_;
};

}  // namespace sim
