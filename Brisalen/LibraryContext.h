// Where the library's engines come from. Each engine is handed what it
// works with (the platform, the product enumeration, the installer, the
// verification, the known folders) through its constructor and never
// reaches for another object itself; the process-wide instances are built
// here, each from the ones it uses, and only the exported entry points and
// the manager factories ask for them. A test can so build an engine on a
// platform of its own, one in which a single call fails.
#pragma once

#include "platform/Platform.h"

// The machine the process-wide engines act on.
platform::Platform& LibraryPlatform();
