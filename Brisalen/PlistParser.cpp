#include "Brisalen/PlistParser.h"

#include <limits>

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
