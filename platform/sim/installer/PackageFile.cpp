#include "platform/sim/installer/PackageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace sim {
namespace {

int64_t Nanoseconds(const timespec& time) { return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec; }

bool Describe(int fd, FileVersion& version) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return false;
    version.device = status.st_dev;
    version.inode = status.st_ino;
    version.size = static_cast<int64_t>(status.st_size);
    version.modifiedNs = Nanoseconds(status.st_mtim);
    version.changedNs = Nanoseconds(status.st_ctim);
    return true;
}

}  // namespace

bool PackageFile::Open(const std::string& hostPath) {
    base::UniqueFd fd(::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid() || !Describe(fd.Get(), version_)) return false;
    hostPath_ = hostPath;
    fd_ = std::move(fd);
    return true;
}

bool PackageFile::CurrentVersion(FileVersion& version) const { return fd_.Valid() && Describe(fd_.Get(), version); }

std::string PackageFile::Head(size_t count) const {
    std::string head(count, '\0');
    size_t have = 0;
    while (have < count) {
        const ssize_t got = ::pread(fd_.Get(), &head[have], count - have, static_cast<off_t>(have));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        have += static_cast<size_t>(got);
    }
    head.resize(have);
    return head;
}

std::string PackageFile::ReadPath() const { return "/proc/self/fd/" + std::to_string(fd_.Get()); }

}  // namespace sim
