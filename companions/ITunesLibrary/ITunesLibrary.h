// ITunesLibrary.dll: reads, edits and writes the media player's library
// file, an XML property list laid out as the player's own XML export.
//
// Binary interface. The library that uses this DLL is built with the same
// MinGW-w64 compiler, so the whole class is exported (__declspec(dllexport)
// on the class) and the caller links against the import library: it
// constructs the object with the exported constructor and destroys it through
// the virtual destructor. The virtual functions are declared in the order the
// caller's vtable expects (destructor, Read, AddPlayList, Append, Write,
// EnumMediaBlock, RemoveMediaBlock). Under the Itanium C++ ABI that MinGW
// uses, the destructor takes two vtable entries (complete and deleting), so
// only a caller compiled from this header with a GCC-compatible compiler may
// call through the vtable; a caller built with another compiler must use the
// C factory pair at the end of this file, which also suits LoadLibrary.
//
// std::string and std::wstring cross the boundary by value; both sides use
// the same C++ runtime headers and the memory comes from msvcrt on both
// sides, so either side may free what the other allocated. No C++ exception
// leaves a member function: failures are return values.
#pragma once

#include <memory>
#include <string>

#if defined(_WIN32)
#if defined(ITUNESLIBRARY_BUILD)
#define ITL_API __declspec(dllexport)
#else
#define ITL_API __declspec(dllimport)
#endif
#else
#define ITL_API __attribute__((visibility("default")))
#endif

namespace ITL {

enum ITL_SE_ERROR {
    ITL_SE_OK = 0,
    ITL_SE_OPEN_FAILED = 1,         // the file could not be opened or read
    ITL_SE_UNSUPPORTED_FORMAT = 2,  // the player's binary library ("hdfm")
    ITL_SE_DAMAGED = 3,             // not a library this code fully understands
    ITL_SE_NOT_LOADED = 4,          // Write after a failed Read
    ITL_SE_WOULD_OVERWRITE = 5,     // a fresh object asked to write over an existing file
    ITL_SE_WRITE_FAILED = 6,        // the old file is left as it was
    ITL_SE_INVALID_ARGUMENT = 7,
    ITL_SE_INTERNAL = 8,            // out of memory or an unexpected fault
    ITL_SE_NESTED_TOO_DEEPLY = 9,   // nested beyond what the reader walks safely
    ITL_SE_READ_ONLY = 10,          // Write: the file is read-only and was left alone
    ITL_SE_IN_USE = 11,             // Write: another process holds the file; left alone
};

enum ITL_SE_MEDIA_TYPE {
    ITL_SE_MEDIA_MUSIC = 0,
    ITL_SE_MEDIA_MOVIE = 1,
    ITL_SE_MEDIA_TV_SHOW = 2,
    ITL_SE_MEDIA_PODCAST = 3,
    ITL_SE_MEDIA_AUDIOBOOK = 4,
    ITL_SE_MEDIA_MUSIC_VIDEO = 5,
};

enum eEnumAndDeleteItunesState {
    eEnumItunesBegin = 0,  // string: the library file's path (UTF-8)
    eEnumItunesMedia = 1,  // string: the entry's location as stored; handle: the entry
    eEnumItunesEnd = 2,
};

// Returning false stops the enumeration (the end state is still reported).
typedef bool (*EnumMediaBlockCallback)(eEnumAndDeleteItunesState state, std::string text, void* block,
                                       void* context);

class LibraryState;

class ITL_API IITunesLibrary {
public:
    IITunesLibrary();
    virtual ~IITunesLibrary();
    // Replaces the object's content with the file's. On failure the object
    // refuses Write until a later Read succeeds.
    virtual ITL_SE_ERROR Read(std::wstring path);
    virtual ITL_SE_ERROR AddPlayList(std::wstring name);
    virtual ITL_SE_ERROR Append(std::wstring location, ITL_SE_MEDIA_TYPE type, std::wstring name);
    // Replaces the file in one step and keeps the previous one as the first
    // free of "<path>.bak", "<path>.1.bak", "<path>.2.bak"...: an earlier
    // backup is never replaced. A read-only file, or one another process
    // holds, is left as it is (ITL_SE_READ_ONLY, ITL_SE_IN_USE).
    virtual ITL_SE_ERROR Write(std::wstring path);
    // Reports every track that has a location. A handle stays valid until
    // its track is removed or the object reads another file.
    virtual bool EnumMediaBlock(EnumMediaBlockCallback callback, void* context);
    // Removes the track and its entries in every playlist; false for a
    // handle this object did not give out or already removed.
    virtual bool RemoveMediaBlock(void* block);

    IITunesLibrary(const IITunesLibrary&) = delete;
    IITunesLibrary& operator=(const IITunesLibrary&) = delete;

private:
    std::unique_ptr<LibraryState> state_;
};

}  // namespace ITL

extern "C" {
// Null when out of memory.
ITL_API ITL::IITunesLibrary* CreateITunesLibrary();
ITL_API void DestroyITunesLibrary(ITL::IITunesLibrary* library);
}
