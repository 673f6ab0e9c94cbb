// Package full names ("AppleInc.iTunes_12.13.2.3_x64__nzyj5cx40ttqa":
// name, version, architecture, resource id, publisher id) taken apart and
// checked. Only a name made of the characters Windows allows in each field
// passes, so a full name that passes can be put into a command line as it
// is. Plain C++, no Windows headers: the same rules are tested on Linux.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace removepackage {

struct PackageId {
    std::wstring fullName;
    std::wstring name;
    std::wstring version;  // as written, "12.13.2.3"
    std::array<uint16_t, 4> versionParts{};
    std::wstring architecture;
    std::wstring resourceId;  // usually empty
    std::wstring publisherId;
};

// Nothing when `fullName` is not a well-formed package full name.
std::optional<PackageId> ParsePackageFullName(const std::wstring& fullName);

// Whether the package belongs to the family "<name>_<publisher id>";
// letter case does not matter.
bool InFamily(const PackageId& package, const std::wstring& familyName);

// Whether `a` has a higher version than `b`.
bool IsNewer(const PackageId& a, const PackageId& b);

}  // namespace removepackage
