// Keeps the media player's library file in step with the media files the
// user-data deletion removed: every entry whose local file is gone is taken
// out of "iTunes Library.itl", so the player shows no dead tracks. The file
// format is the companion's business (ITunesLibrary.dll).
#pragma once

#include <map>
#include <string>

#include "Brisalen/ItunesLibraryCompanion.h"
#include "common/Singleton.h"

class CItunesLibraryMgr {
public:
    static CItunesLibraryMgr& Instance();

    // Reads the library file anew into a fresh library object and collects
    // its local media entries. False when the companion, the file or its
    // content is not usable; the media map is then empty.
    bool Init();
    // The enumeration callback; it never stops the enumeration.
    static bool MediaFilterCallback(ITL::eEnumAndDeleteItunesState state, std::string text, void* block,
                                    void* context);
    // Records an entry whose location is a file on this machine.
    void OnFindMedia(std::string location, void* block);
    // Removes the entries whose file no longer exists and writes the file
    // back. True when at least one entry was removed, whether or not the
    // write succeeded.
    bool UpdateItunesLibrary();

private:
    friend class Singleton<CItunesLibraryMgr>;
    CItunesLibraryMgr();

    // Declared first so that it outlives the object it made.
    CItunesLibraryCompanion m_companion;
    CItunesLibraryCompanion::LibraryPtr m_library;
    std::wstring m_strItlPath;
    // Entry handle -> local path of the entry.
    std::map<void*, std::wstring> m_mapMedia;
};
