// Windows Installer (msi.dll).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class IInstaller {
public:
    virtual ~IInstaller() = default;
    // MsiEnableLogW for the rest of the process.
    virtual uint32_t EnableLog(uint32_t logMode, const std::wstring& logFile, uint32_t attributes) = 0;
};

}  // namespace platform
