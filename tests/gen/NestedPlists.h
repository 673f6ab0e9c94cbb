// A binary property list of arrays nested `depth` deep, each holding the
// next, with four-byte offsets and references so that the depth is not
// bounded by the reference width: what the readers' depth limits are
// tested with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline std::string NestedBinaryPlist(uint32_t depth) {
    std::string out = "bplist00";
    const auto be32 = [&out](uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
    };
    std::vector<uint32_t> offsets;
    for (uint32_t i = 0; i < depth; ++i) {
        offsets.push_back(static_cast<uint32_t>(out.size()));
        if (i + 1 == depth) {
            out += '\x09';
        } else {
            out += '\xA1';
            be32(i + 1);
        }
    }
    const uint64_t table = out.size();
    for (uint32_t offset : offsets) be32(offset);
    std::string trailer(32, '\0');
    trailer[6] = 4;
    trailer[7] = 4;
    for (int i = 0; i < 8; ++i) trailer[8 + i] = static_cast<char>((uint64_t{depth} >> (56 - 8 * i)) & 0xFF);
    for (int i = 0; i < 8; ++i) trailer[24 + i] = static_cast<char>((table >> (56 - 8 * i)) & 0xFF);
    return out + trailer;
}
