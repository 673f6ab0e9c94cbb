// Bytes of a property list, binary or XML, as libplist nodes. The binary
// form is tried first, and only after its references have been checked
// (BinaryPlistCheck.h); everything else is read as XML (XmlPlistReader.h).
#pragma once

#include <cstddef>
#include <cstdint>
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

// The seconds since 2001-01-01 of a date node, as libplist hands them out
// (truncated toward zero), or false when the node is no date or its value
// does not fit 32 bits: plist_get_date_val converts such a value without a
// bound, which is undefined, so it is never asked for one.
bool PlistDateSeconds(plist_t node, int32_t& seconds);
