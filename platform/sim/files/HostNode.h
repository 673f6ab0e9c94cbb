// What the host knows about one entry of a simulated drive, translated into
// the terms FindFirstFileW and GetFileAttributesW use.
#pragma once

#include <cstdint>
#include <string>

#include <sys/stat.h>

#include "platform/sim/store/MachineState.h"

namespace sim {

struct HostNode {
    bool exists = false;
    bool directory = false;  // a real directory or a link to one
    bool link = false;       // a host symlink: a junction or file symlink on Windows
    uint64_t size = 0;
    uint64_t lastWriteTime = 0;  // FILETIME ticks

    // Looks at the entry itself, not at what a link points to, as Windows
    // does for reparse points.
    static HostNode Inspect(const std::string& hostPath);
    // The same from an lstat of `hostPath` the caller already made.
    static HostNode FromLstat(const std::string& hostPath, const struct stat& st);
    // The same for the entry `name` of the open host directory `dirFd`, as
    // a listing meets it: no path is rebuilt, and only a link costs a
    // second stat (of its target).
    static HostNode FromLstatAt(int dirFd, const char* name, const struct stat& st);

    // GetFileAttributesW's answer given what NTFS recorded for the entry.
    uint32_t Attributes(const FileMeta& meta) const;
    uint64_t CreationTime(const FileMeta& meta) const;
    // What the find data's dwReserved0 holds: a link's own tag, or the
    // recorded tag of a reparse point that is no link; 0 for the rest.
    uint32_t ReparseTag(const FileMeta& meta) const;
};

// FILE_ATTRIBUTE_* bits SetFileAttributesW can change.
constexpr uint32_t kSettableAttributes = 0x1 | 0x2 | 0x4 | 0x20 | 0x80 | 0x100 | 0x1000 | 0x2000;

}  // namespace sim
