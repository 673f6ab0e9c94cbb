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
//
// Why not libplist's plist_from_xml: the libplist we build against (2.2.0)
// reads XML with its own tokeniser, not libxml2, and takes no node from a
// libxml2 tree. Measured on a 1 MiB thread stack, it parses a list nested
// 100,000 levels deep in 0.09 s and then overflows the stack in plist_free,
// which recurses once per level. Checking the nesting with libxml2 first
// does not close that: the two tokenise differently, and a DOCTYPE whose
// internal subset holds a comment with "]>" in it is one comment to libxml2
// (depth 2) but ends the subset for libplist, which then builds, and dies
// freeing, the 100,000 levels written after it. Building the nodes from the
// tree libxml2 has already bounded leaves one parser to trust.
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
