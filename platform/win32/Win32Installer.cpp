#include "platform/win32/Win32Installer.h"

namespace platform::win32 {

// Without a file name Windows Installer stops logging, which is what an
// empty name means to the caller too.
uint32_t Win32Installer::EnableLog(uint32_t logMode, const std::wstring& logFile, uint32_t attributes) {
    return ::MsiEnableLogW(logMode, logFile.empty() ? nullptr : logFile.c_str(), attributes);
}

}  // namespace platform::win32
