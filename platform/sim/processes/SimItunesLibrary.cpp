#include "platform/sim/processes/SimItunesLibrary.h"

#include <string>

#include "companions/ITunesLibrary/ITunesLibrary.h"
#include "platform/sim/files/SimFileSystem.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/Utf8.h"

namespace sim {

namespace {

ItunesLibraryCompanion Behaviour(Machine& machine) { return machine.Snapshot<ItunesLibraryCompanion>(); }

// The real companion's object with its file access moved onto the machine:
// a Windows path of the machine becomes the host file behind it, which the
// base class then reads and writes in the real library format.
class SimItunesLibrary final : public ITL::IITunesLibrary {
public:
    explicit SimItunesLibrary(std::shared_ptr<Machine> machine) : machine_(std::move(machine)) {}

    ITL::ITL_SE_ERROR Read(std::wstring path) override {
        const std::wstring host = HostPath(path);
        if (Behaviour(*machine_).readFails || host.empty()) {
            // The base refuses an empty path and, as after any failed read,
            // then refuses to write the object out.
            IITunesLibrary::Read(std::wstring());
            return ITL::ITL_SE_OPEN_FAILED;
        }
        return IITunesLibrary::Read(host);
    }

    ITL::ITL_SE_ERROR Write(std::wstring path) override {
        const std::wstring host = HostPath(path);
        if (Behaviour(*machine_).writeFails || host.empty()) return ITL::ITL_SE_WRITE_FAILED;
        // The machine keeps attribute bits and open handles beside the host
        // file, where the companion's own checks cannot see them; the real
        // companion refuses both cases on Windows before it makes anything.
        const uint32_t attributes = SimFileSystem(machine_).GetAttributes(path);
        if (attributes != platform::kInvalidFileAttributes && (attributes & platform::kAttrReadOnly) != 0) {
            return ITL::ITL_SE_READ_ONLY;
        }
        if (machine_->IsHeld(path)) return ITL::ITL_SE_IN_USE;
        return IITunesLibrary::Write(host);
    }

private:
    // Empty for a path the machine cannot place (relative, unknown drive).
    std::wstring HostPath(const std::wstring& path) {
        if (path.empty()) return std::wstring();
        return FromUtf8(SimFileSystem(machine_).NativePath(path));
    }

    const std::shared_ptr<Machine> machine_;
};

// The exports, with the real companion's signatures. The object acts on the
// machine the library acts on when it is made.
ITL::IITunesLibrary* CreateStandIn() {
    try {
        return std::make_unique<SimItunesLibrary>(CurrentMachine()).release();
    } catch (...) {
        return nullptr;
    }
}

void DestroyStandIn(ITL::IITunesLibrary* library) { std::unique_ptr<ITL::IITunesLibrary> owned(library); }

class ItunesLibraryStandIn final : public platform::ILibrary {
public:
    platform::ExportedFunction Export(const char* name) override {
        const std::string wanted = name;
        if (wanted == kItunesLibraryCreateExport) return reinterpret_cast<platform::ExportedFunction>(&CreateStandIn);
        if (wanted == kItunesLibraryDestroyExport) {
            return reinterpret_cast<platform::ExportedFunction>(&DestroyStandIn);
        }
        return nullptr;
    }
};

}  // namespace

void SetItunesLibraryCompanion(Machine& machine, const ItunesLibraryCompanion& behaviour) {
    machine.Edit<ItunesLibraryCompanion>([&](ItunesLibraryCompanion& companion) { companion = behaviour; });
}

std::unique_ptr<platform::ILibrary> LoadItunesLibraryStandIn(const Machine& machine) {
    if (!machine.Snapshot<ItunesLibraryCompanion>().present) return nullptr;
    return std::make_unique<ItunesLibraryStandIn>();
}

}  // namespace sim
