// Owners of the Windows handles the companion opens: each is closed when
// its owner goes, on every path out of a function.
#pragma once

#include <windows.h>

#include "base/WindowsHandles.h"

namespace removepackage {

using UniqueHandle = base::KernelHandle;
using UniqueKey = base::RegistryKeyHandle;

}  // namespace removepackage
