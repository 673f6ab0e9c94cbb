// Win32 failures as the seam reports them: the code the call left in the
// thread's last error, which stays set for callers that read it themselves.
#pragma once

#include <cstdint>

#include "platform/Result.h"
#include "platform/win32/WinApi.h"

namespace platform::win32 {

// For calls that answer success as a BOOL: 0, or why not.
inline uint32_t ErrorUnless(BOOL succeeded) {
    return succeeded ? static_cast<uint32_t>(kErrSuccess) : static_cast<uint32_t>(::GetLastError());
}

// The failure of a call that has just failed.
inline Failure LastErrorFailure() { return Failure(::GetLastError()); }

}  // namespace platform::win32
