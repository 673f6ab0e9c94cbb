// Keeps the media player's library file in step with the media files the
// user-data deletion removed: every entry whose local file is gone for good
// (GoneMediaRule.h) is taken out of "iTunes Library.itl", so the player
// shows no dead tracks, while tracks on drives or shares that are merely
// out of reach stay. The file format is the companion's business
// (ITunesLibrary.dll). The update never deletes a file of any kind.
#pragma once

#include <map>
#include <set>
#include <string>

#include "Brisalen/ItunesLibraryCompanion.h"
#include "Brisalen/CollectDirMgr.h"
#include "platform/Platform.h"

class CItunesLibraryMgr {
public:
    static CItunesLibraryMgr& Instance();
    // The library file under `folders`' Music folder, read and written
    // through the companion loaded from `os`.
    CItunesLibraryMgr(platform::Platform& os, const CCollectDirMgr& folders);

    // Reads the library file anew into a fresh library object and collects
    // its local media entries. False when the companion, the file or its
    // content is not usable; the media map is then empty.
    bool Init();
    // The enumeration callback; it never stops the enumeration.
    static bool MediaFilterCallback(ITL::eEnumAndDeleteItunesState state, std::string text, void* block,
                                    void* context);
    // Records an entry whose location is a file on this machine.
    void OnFindMedia(std::string location, void* block);
    // Removes the entries whose file is gone for good and writes the file
    // back, unless it is read-only or another process holds it (a WARN line,
    // the file left as it was). `removedFolders`: the folders the deletion
    // worked on. True when at least one entry was removed, whether or not
    // the write succeeded.
    bool UpdateItunesLibrary(const std::set<std::wstring>& removedFolders = {});

private:
    void WriteBack();

    // Declared first so that it outlives the object it made.
    platform::Platform& m_os;
    CItunesLibraryCompanion m_companion;
    CItunesLibraryCompanion::LibraryPtr m_library;
    std::wstring m_strItlPath;
    // Entry handle -> local path of the entry.
    std::map<void*, std::wstring> m_mapMedia;
};
