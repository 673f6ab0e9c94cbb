// ITunesLibrary.dll, the companion that reads and edits the media player's
// library file, bound at run time: it is loaded on the first object asked
// for, and a machine without it only loses the library update. Its header
// is used for the class layout alone; Brisalen never links its import
// library. Every call into it is guarded, so a fault inside the companion
// becomes a failed result and a log line, never the end of the host.
#pragma once

#include <memory>
#include <string>

#include "companions/ITunesLibrary/ITunesLibrary.h"
#include "include/Brisalen.h"
#include "platform/Platform.h"

class CItunesLibraryCompanion {
public:
    // The exported factory, as the companion is built to be called.
    using CreateFn = ITL::IITunesLibrary*(BRISALEN_CDECL*)();

    // Destroys an object through its virtual destructor, so the companion's
    // own code frees what the companion allocated.
    struct Deleter {
        platform::IProcessEnv* process = nullptr;
        void operator()(ITL::IITunesLibrary* library) const;
    };
    using LibraryPtr = std::unique_ptr<ITL::IITunesLibrary, Deleter>;

    // Loads the companion through `os` and calls it under its fault guard.
    explicit CItunesLibraryCompanion(platform::Platform& os) : m_os(os) {}

    // A new, empty library object. Null, after a WARN line, when the DLL or
    // its factory is missing or the factory makes nothing; the load is tried
    // again on the next call.
    LibraryPtr Create();

    // The object's operations; a fault answers ITL_SE_INTERNAL or false.
    ITL::ITL_SE_ERROR Read(ITL::IITunesLibrary& library, const std::wstring& path);
    ITL::ITL_SE_ERROR Write(ITL::IITunesLibrary& library, const std::wstring& path);
    bool EnumMediaBlock(ITL::IITunesLibrary& library, ITL::EnumMediaBlockCallback callback, void* context);
    bool RemoveMediaBlock(ITL::IITunesLibrary& library, void* block);

private:
    bool Bind();
    template <typename Call>
    bool Guarded(const wchar_t* operation, Call& call);

    platform::Platform& m_os;
    // Kept for as long as the object: the companion stays loaded.
    std::unique_ptr<platform::ILibrary> m_library;
    CreateFn pfnCreate = nullptr;
};
