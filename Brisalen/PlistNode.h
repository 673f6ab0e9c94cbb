// Ownership of libplist nodes, and the bounds every property-list reader of
// the library keeps to. Backup folders are found anywhere on a disk, so
// their property lists are untrusted input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
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

// The text of a string node up to its first NUL byte, as a reader of C
// strings sees it; empty for any other node. plist_get_string_val asserts
// that there is no NUL inside, which a crafted binary list breaks, and a
// failed assertion would end the host's process.
inline std::string PlistStringValue(plist_t node) {
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    if (text == nullptr) return std::string();
    return std::string(text, ::strnlen(text, static_cast<size_t>(length)));
}
