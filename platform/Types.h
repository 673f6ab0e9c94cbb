// Plain data that crosses the OS seam. Values keep their Windows meaning so
// the layers above can compare error codes and attribute bits as Windows
// documents them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Windows error codes the library reacts to.
enum WinError : uint32_t {
    kErrSuccess = 0,
    kErrFileNotFound = 2,
    kErrPathNotFound = 3,
    kErrAccessDenied = 5,
    kErrInvalidHandle = 6,
    kErrNotEnoughMemory = 8,
    kErrNoMoreFiles = 18,
    kErrSharingViolation = 32,
    kErrFileExists = 80,
    kErrInvalidParameter = 87,
    kErrInsufficientBuffer = 122,
    kErrInvalidName = 123,
    kErrModuleNotFound = 126,
    kErrProcNotFound = 127,
    kErrDirNotEmpty = 145,
    kErrAlreadyExists = 183,
    kErrMoreData = 234,
    kErrNoMoreItems = 259,
    kErrPartialCopy = 299,
    kErrRegistryCorrupt = 1015,
    kErrRegistryIoFailed = 1016,
    kErrServiceDoesNotExist = 1060,
    kErrInternalError = 1359,
    kErrServiceMarkedForDelete = 1072,
    kErrServiceExists = 1073,
    kErrBadConfiguration = 1610,
    kErrInstallServiceFailure = 1601,
    kErrInstallFailure = 1603,
    kErrUnknownProduct = 1605,
    kErrUnknownProperty = 1608,
    kErrInstallAlreadyRunning = 1618,
    kErrInstallPackageOpenFailed = 1619,
    kErrInstallPackageInvalid = 1620,
    kErrSuccessRebootRequired = 3010,
};

// File attribute bits (FILE_ATTRIBUTE_*).
enum FileAttribute : uint32_t {
    kAttrReadOnly = 0x1,
    kAttrHidden = 0x2,
    kAttrSystem = 0x4,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20,
    kAttrNormal = 0x80,
    kAttrReparsePoint = 0x400,
};
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

// Reparse tags (IO_REPARSE_TAG_*). Only a tag with the name-surrogate bit
// stands for another place in the namespace: junctions and symbolic links.
// Every other tag (cloud placeholders, deduplicated or compressed files)
// marks an ordinary file or folder whose contents are where it stands.
constexpr uint32_t kReparseTagMountPoint = 0xA0000003u;
constexpr uint32_t kReparseTagSymlink = 0xA000000Cu;
constexpr uint32_t kReparseTagCloudFiles = 0x9000001Au;
constexpr uint32_t kReparseTagNameSurrogate = 0x20000000u;

// Whether an entry with `attributes` and `reparseTag` leads elsewhere. A
// reparse point whose tag is not known (0, as Wine reports its symbolic
// links) is taken for a link: following one by mistake could lead anywhere.
constexpr bool IsLinkEntry(uint32_t attributes, uint32_t reparseTag) {
    return (attributes & kAttrReparsePoint) != 0 && (reparseTag == 0 || (reparseTag & kReparseTagNameSurrogate) != 0);
}

// One entry of a directory search (the useful part of WIN32_FIND_DATAW).
struct FindData {
    std::wstring name;
    uint32_t attributes = 0;
    uint64_t size = 0;            // full 64-bit size
    uint64_t creationTime = 0;    // FILETIME ticks (100 ns since 1601)
    uint64_t lastWriteTime = 0;
    uint32_t reparseTag = 0;      // dwReserved0: set when the reparse-point attribute is
    bool IsDirectory() const { return (attributes & kAttrDirectory) != 0; }
    bool IsReparsePoint() const { return (attributes & kAttrReparsePoint) != 0; }
    // A junction or symbolic link, never a cloud placeholder or the like.
    bool IsLink() const { return IsLinkEntry(attributes, reparseTag); }
};

// SYSTEMTIME in local time.
struct LocalTime {
    int year = 1601, month = 1, day = 1, hour = 0, minute = 0, second = 0, milliseconds = 0;
};

// What a version query answers: the pair GetVersionExW reports to programs
// without a compatibility manifest, or the true one.
struct OsVersion {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
};

// GetDriveTypeW results.
enum class DriveType : uint32_t {
    Unknown = 0,
    NoRootDir = 1,
    Removable = 2,
    Fixed = 3,
    Remote = 4,
    CdRom = 5,
    RamDisk = 6,
};

struct DiskSpace {
    uint64_t freeToCaller = 0;
    uint64_t total = 0;
    uint64_t totalFree = 0;
};

// Code pages the library converts with.
enum CodePage : uint32_t {
    kCpAcp = 0,
    kCpOemCp = 1,
    kCpUtf8 = 65001,
};

}  // namespace platform
