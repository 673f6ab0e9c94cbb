// What `brisalen machine seed-user-data` lays out: a user profile that the
// media player and its companions have used for a while (media, library
// file, update packages, caches, logs, strays and two device backups). The
// plan is made in memory first and deterministically from a seed, so the
// expected scan results can be computed from exactly what is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace seed {

// The four shell folders the layout hangs from, as the machine reports them.
struct SeedFolders {
    std::wstring myMusic;
    std::wstring appData;
    std::wstring localAppData;
    std::wstring programData;
};

// The folders of the machine the host acts on.
SeedFolders MachineSeedFolders();

// One file to write: either `bytes` as given, or `size` bytes of filler
// made from `fill` (so 100,000 files need not sit in memory).
struct PlannedFile {
    std::wstring path;
    uint64_t size = 0;
    uint64_t fill = 0;
    std::string bytes;
    bool literal = false;
    bool inBackup = false;
};

struct PlannedBackup {
    std::wstring folder;
    std::string deviceName;
    std::string version;
    std::string deviceId;
    int64_t dateUnix = 0;
    bool binary = false;
    bool deep = false;  // outside the scan roots: only a deep scan finds it
    uint64_t size = 0;  // every file below the folder
};

struct LibraryEntry {
    std::string location;  // as stored in the library file
    std::wstring path;     // the local file it names; empty for a remote entry
    bool remote = false;
    bool written = false;  // the seeder wrote that file
};

struct SeedPlan {
    SeedFolders folders;
    std::vector<PlannedFile> files;  // every file, the backups' own included
    std::vector<PlannedBackup> backups;
    std::wstring libraryFile;
    std::vector<LibraryEntry> library;
};

// `bulkFiles` is the number of media and junk files spread over the
// categories; below the number of places they go, each place still gets one.
SeedPlan PlanUserData(const SeedFolders& folders, uint64_t seed, int bulkFiles);

// The filler bytes of a planned file that is not literal.
std::string FillerBytes(uint64_t fill, uint64_t size);

// "file://localhost/C:/a%20b.m4a": forward slashes, UTF-8, and every byte
// outside the unreserved set, the slash and the drive colon percent-encoded.
std::string FileLocation(const std::wstring& windowsPath);

}  // namespace seed
