// The simulated machine's ITunesLibrary.dll: the same library-file code the
// real companion runs (itunes_library_core), reached through the machine's
// paths, with faults a test can ask for.
#pragma once

#include <memory>

#include "platform/Libraries.h"
#include "platform/sim/Api.h"
#include "platform/sim/store/Machine.h"
#include "platform/sim/store/MachineJson.h"

namespace sim {

// How the stand-in behaves. By default it is beside the host program and
// reads and writes library files as the real companion does.
struct ItunesLibraryCompanion {
    static constexpr const char* kKey = "itunesLibraryCompanion";
    bool present = true;
    // Read answers ITL_SE_OPEN_FAILED, as for a file it cannot open.
    bool readFails = false;
    // Write answers ITL_SE_WRITE_FAILED and leaves the file as it was.
    bool writeFails = false;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(ItunesLibraryCompanion, present, readFails, writeFails)

inline constexpr const wchar_t* kItunesLibraryCompanionName = L"ITunesLibrary.dll";
inline constexpr const char* kItunesLibraryCreateExport = "CreateITunesLibrary";
inline constexpr const char* kItunesLibraryDestroyExport = "DestroyITunesLibrary";

SIM_API void SetItunesLibraryCompanion(Machine& machine, const ItunesLibraryCompanion& behaviour);

// The loaded stand-in; null when the machine has no ITunesLibrary.dll.
std::unique_ptr<platform::ILibrary> LoadItunesLibraryStandIn(const Machine& machine);

}  // namespace sim
