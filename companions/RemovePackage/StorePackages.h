// Which packages of a family the package manager has installed for the
// current user.
#pragma once

#include <optional>
#include <string>

#include "PackageFullName.h"

namespace removepackage {

struct PackageLookup {
    enum class State { Installed, NotInstalled, NoPackageManager };
    State state = State::NoPackageManager;
    // The newest installed package of the family, when there is one.
    std::optional<PackageId> package;
};

// Asks GetPackagesByPackageFamily where kernel32 has it (Windows 8 and
// later; it is looked up at run time, so the library still loads where it
// is missing). Without it, or when it fails, reads the user's package
// repository in the registry, whose subkeys are named by full name.
PackageLookup FindPackage(const std::wstring& familyName);

}  // namespace removepackage
