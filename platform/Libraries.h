// Dynamic libraries loaded at run time: LoadLibraryW and GetProcAddress.
#pragma once

#include <memory>
#include <string>

#include "platform/Result.h"

namespace platform {

// An exported function as GetProcAddress gives it; the caller casts it to
// the export's real signature.
using ExportedFunction = void (*)();

class ILibrary {
public:
    // A loaded library stays loaded until the process ends: its functions
    // may be running on another thread, and a library of ours may be
    // unloading when its owner goes, where unloading another is unsafe.
    virtual ~ILibrary() = default;
    // Null when the library has no export of that name.
    virtual ExportedFunction Export(const char* name) = 0;
};

class ILibraries {
public:
    virtual ~ILibraries() = default;
    // LoadLibraryW with the standard search order (the host program's folder
    // first). Fails with 126 when no such library is found.
    virtual Result<std::unique_ptr<ILibrary>> Load(const std::wstring& name) = 0;
};

}  // namespace platform
