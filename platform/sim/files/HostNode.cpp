#include "platform/sim/files/HostNode.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "platform/Types.h"

namespace sim {

namespace {

// Seconds between 1601-01-01 (FILETIME) and 1970-01-01 (Unix).
constexpr uint64_t kEpochDifference = 11644473600ull;

uint64_t ToFileTime(const timespec& ts) {
    if (ts.tv_sec < 0) return 0;
    return (static_cast<uint64_t>(ts.tv_sec) + kEpochDifference) * 10000000ull +
           static_cast<uint64_t>(ts.tv_nsec) / 100;
}

template <typename FollowStat>
HostNode FromLstatWith(const struct stat& st, FollowStat&& follow) {
    // What lstat said, with `follow` stat-ing a link's target.
    HostNode node;
    node.exists = true;
    node.lastWriteTime = ToFileTime(st.st_mtim);
    if (S_ISLNK(st.st_mode)) {
        node.link = true;
        struct stat target {};
        // A junction whose target is gone is still a directory entry.
        node.directory = !follow(target) || S_ISDIR(target.st_mode);
        return node;
    }
    // A FIFO, socket or device is no Windows file: opening a FIFO would
    // block, reading a device would not end. None is there for the machine.
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) return HostNode{};
    node.directory = S_ISDIR(st.st_mode);
    if (!node.directory) node.size = static_cast<uint64_t>(st.st_size);
    return node;
}

}  // namespace

HostNode HostNode::Inspect(const std::string& hostPath) {
    struct stat st {};
    if (::lstat(hostPath.c_str(), &st) != 0) return HostNode{};
    return FromLstat(hostPath, st);
}

HostNode HostNode::FromLstat(const std::string& hostPath, const struct stat& st) {
    return FromLstatWith(st, [&](struct stat& target) { return ::stat(hostPath.c_str(), &target) == 0; });
}

HostNode HostNode::FromLstatAt(int dirFd, const char* name, const struct stat& st) {
    return FromLstatWith(st, [&](struct stat& target) { return ::fstatat(dirFd, name, &target, 0) == 0; });
}

uint32_t HostNode::Attributes(const FileMeta& meta) const {
    if (!exists) return platform::kInvalidFileAttributes;
    uint32_t bits = meta.attributes ? (*meta.attributes & kSettableAttributes)
                                    : (directory ? 0u : uint32_t{platform::kAttrArchive});
    if (directory) bits |= platform::kAttrDirectory;
    if (link || meta.reparseTag) bits |= platform::kAttrReparsePoint;
    // NORMAL only ever stands alone; with any other bit Windows drops it,
    // and a file left with no bits at all reports NORMAL.
    if (bits & ~uint32_t{platform::kAttrNormal}) bits &= ~uint32_t{platform::kAttrNormal};
    if (bits == 0) bits = platform::kAttrNormal;
    return bits;
}

uint32_t HostNode::ReparseTag(const FileMeta& meta) const {
    if (!exists) return 0;
    if (link) return directory ? platform::kReparseTagMountPoint : platform::kReparseTagSymlink;
    return meta.reparseTag.value_or(0);
}

uint64_t HostNode::CreationTime(const FileMeta& meta) const {
    return meta.creationTime ? *meta.creationTime : lastWriteTime;
}

}  // namespace sim
