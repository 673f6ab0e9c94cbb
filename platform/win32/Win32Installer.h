// Windows Installer settings for the process.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32/WinApi.h"

#include "platform/Installer.h"

namespace platform::win32 {

class Win32Installer final : public IInstaller {
public:
    uint32_t EnableLog(uint32_t logMode, const std::wstring& logFile, uint32_t attributes) override;
};

}  // namespace platform::win32
