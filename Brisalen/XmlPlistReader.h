// The XML form of a property list, parsed with libxml2 and turned into
// libplist nodes through libplist's public constructors.
//
// The parser never fetches anything and never expands a declared entity:
// a document that declares one (the "billion laughs" and external-entity
// attacks both need a declaration) is refused as soon as the declaration is
// read, no DTD is loaded, and an entity reference left in the text refuses
// the document too. Nesting, node count and the number of tags are bounded
// (PlistNode.h). libxml2 reports nothing on stderr: its first complaint
// is kept for the caller's log line.
#pragma once

#include <cstddef>
#include <string>

#include "Brisalen/PlistNode.h"

class CXmlPlistReader {
public:
    // The property list, or none with `why` saying what was wrong.
    PlistPtr Read(const char* data, size_t size);
    const std::string& Why() const { return m_strWhy; }

private:
    std::string m_strWhy;
};
