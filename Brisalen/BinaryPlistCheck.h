// A structural check of a binary property list ("bplist00") made before
// libplist parses it. libplist follows object references without bounding
// depth or sharing, so a crafted file of a few KiB could make it recurse off
// the stack or build billions of nodes; this walk measures the tree the
// references describe without building it.
#pragma once

#include <cstddef>

class CBinaryPlistCheck {
public:
    // True when the bytes start like a binary property list at all; only
    // such bytes are given to the binary parser.
    static bool HasBinaryMagic(const char* data, size_t size);
    // True when the trailer, offset table and every reference reachable from
    // the root are in bounds, there is no cycle, and the expanded tree stays
    // within kMaxPlistDepth and kMaxPlistNodes.
    static bool IsWithinBounds(const char* data, size_t size);
};
