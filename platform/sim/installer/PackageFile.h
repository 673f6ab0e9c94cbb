// A package file held open by descriptor from its check until libmsi is
// done with it, so that the check child and libmsi read the same file even
// when its name is given to another one meanwhile; and what tells one
// version of that file from the next.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "base/UniqueFd.h"

namespace sim {

// Identity, size and change times. The status-change time also moves on a
// copy that keeps the modification time, and no program can set it back.
struct FileVersion {
    dev_t device = 0;
    ino_t inode = 0;
    int64_t size = 0;
    int64_t modifiedNs = 0;
    int64_t changedNs = 0;

    bool operator==(const FileVersion& other) const {
        return device == other.device && inode == other.inode && size == other.size && modifiedNs == other.modifiedNs &&
               changedNs == other.changedNs;
    }
    bool operator!=(const FileVersion& other) const { return !(*this == other); }
};

class PackageFile {
public:
    PackageFile() = default;
    PackageFile(PackageFile&&) = default;
    PackageFile& operator=(PackageFile&&) = default;

    // False with errno set when the file cannot be opened for reading.
    bool Open(const std::string& hostPath);

    const std::string& HostPath() const { return hostPath_; }
    int Descriptor() const { return fd_.Get(); }
    const FileVersion& Version() const { return version_; }
    // The version the file has now; false when it cannot be asked.
    bool CurrentVersion(FileVersion& version) const;
    // The first bytes of the file, fewer when it is shorter.
    std::string Head(size_t count) const;
    // A name that reaches this very file through the open descriptor.
    std::string ReadPath() const;

private:
    std::string hostPath_;
    base::UniqueFd fd_;
    FileVersion version_;
};

}  // namespace sim
