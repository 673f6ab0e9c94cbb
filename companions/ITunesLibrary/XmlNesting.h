// How deeply an XML property list nests, found before libplist reads it.
// libplist's XML reader builds trees of any depth, and freeing, copying or
// writing such a tree recurses once per level: a library file nested some
// ten thousand levels deep would overflow the thread's stack in the host
// process, where no fault guard can catch it. The scan keeps a stack of one
// byte per open container and never recurses.
//
// It accepts only markup it reads exactly as libplist does: the known
// property-list elements, comments, CDATA inside values, processing
// instructions and a DOCTYPE without an internal subset. Wherever libplist
// could end a construct elsewhere than the scan does (a double quote left
// open inside markup, a '<' inside a tag, a NUL byte), the document is not
// understood rather than guessed at, so a close tag hidden from libplist
// can never make the scan count too shallow.
#pragma once

#include <cstddef>
#include <string>

namespace itl {

enum class NestingScan { Within, TooDeep, NotUnderstood };

// Within when no container (plist, dict, array) opens deeper than
// `maxDepth` levels, the <plist> element counting as one.
NestingScan ScanXmlNesting(const std::string& bytes, size_t maxDepth);

}  // namespace itl
