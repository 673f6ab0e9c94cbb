// Finding the host file behind a Windows path. NTFS names are
// case-insensitive while the host's are not, so each component is looked
// up in the spelling that exists on disk.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/files/HostNode.h"

namespace sim {

// Joins `components` onto `root` (a host folder), replacing each one with
// the existing entry that equals it ignoring case. The first component that
// does not exist, and all after it, keep the caller's spelling so that a
// file created there gets the name the caller asked for.
// `node`, when given, receives what the host has at the returned path.
std::string ResolveComponents(const std::string& root, const std::vector<std::wstring>& components,
                              HostNode* node = nullptr);

}  // namespace sim
