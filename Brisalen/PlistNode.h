// Ownership of libplist nodes, and the bounds every property-list reader of
// the library keeps to. Backup folders are found anywhere on a disk, so
// their property lists are untrusted input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

#include <plist/plist.h>

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

// A Manifest.plist of a real backup is a few MiB at most; anything larger
// is refused before a byte of it is read.
constexpr uint64_t kMaxPlistFileBytes = 32ull * 1024 * 1024;
// Nesting a reader accepts. Real backups nest five levels deep; the bound
// keeps every recursive walk (ours and libplist's) far from the end of a
// 1 MiB thread stack.
constexpr int kMaxPlistDepth = 128;
// Nodes a document may expand to. Binary property lists can share objects,
// so a small file can describe an exponential tree; the bound applies to
// the tree as libplist would build it.
constexpr size_t kMaxPlistNodes = size_t{1} << 18;
