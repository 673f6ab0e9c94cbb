// Bytes of a property list, binary or XML, as libplist nodes. The binary
// form is tried first, and only after its references have been checked
// (BinaryPlistCheck.h); everything else is read as XML (XmlPlistReader.h).
#pragma once

#include <cstddef>
#include <string>

#include "Brisalen/PlistNode.h"

class CPlistParser {
public:
    // The root node, or none with Why() telling what was wrong.
    PlistPtr Parse(const char* data, size_t size);
    const std::string& Why() const { return m_strWhy; }

private:
    std::string m_strWhy;
};
