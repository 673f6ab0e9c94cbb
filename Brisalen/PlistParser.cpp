#include "Brisalen/PlistParser.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "Brisalen/BinaryPlistCheck.h"
#include "Brisalen/XmlPlistReader.h"

PlistPtr CPlistParser::Parse(const char* data, size_t size) {
    m_strWhy.clear();
    if (data == nullptr || size == 0) {
        m_strWhy = "empty";
        return nullptr;
    }
    const bool binary = CBinaryPlistCheck::HasBinaryMagic(data, size);
    if (binary) {
        // libplist takes a 32-bit length, which the file bound keeps to.
        if (size > std::numeric_limits<uint32_t>::max() || !CBinaryPlistCheck::IsWithinBounds(data, size)) {
            m_strWhy = "a binary property list out of bounds";
            return nullptr;
        }
        plist_t root = nullptr;
        plist_from_bin(data, static_cast<uint32_t>(size), &root);
        if (root != nullptr) return PlistPtr(root);
    }
    CXmlPlistReader xml;
    PlistPtr root = xml.Read(data, size);
    if (root == nullptr) m_strWhy = binary ? "a damaged binary property list" : xml.Why();
    return root;
}

bool PlistDateSeconds(plist_t node, int32_t& seconds) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_DATE) return false;
    // The binary form of the lone node carries the stored double as it is:
    // "bplist00", the date marker, eight big-endian bytes.
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bytes, &length);
    const std::unique_ptr<char, decltype(&plist_to_bin_free)> owned(bytes, &plist_to_bin_free);
    constexpr uint32_t kMarkerAt = 8;
    if (bytes == nullptr || length < kMarkerAt + 9 || static_cast<unsigned char>(bytes[kMarkerAt]) != 0x33) {
        return false;
    }
    uint64_t bits = 0;
    for (uint32_t i = 1; i <= 8; ++i) bits = (bits << 8) | static_cast<unsigned char>(bytes[kMarkerAt + i]);
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    // Written so that NaN fails it too.
    if (!(value > -2147483649.0 && value < 2147483648.0)) return false;
    seconds = static_cast<int32_t>(value);
    return true;
}
