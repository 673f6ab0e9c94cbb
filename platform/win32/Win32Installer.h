// Windows Installer through msi.dll: the installed products, their cached
// packages, and the install, repair and removal calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/win32/WinApi.h"

#include "platform/Installer.h"

namespace platform::win32 {

class Win32Installer final : public IInstaller {
public:
    uint32_t EnableLog(uint32_t logMode, const std::wstring& logFile, uint32_t attributes) override;

    uint32_t EnumProducts(uint32_t index, std::wstring& productCode) override;
    uint32_t IsProductElevated(const std::wstring& productCode, bool& elevated) override;
    uint32_t GetProductInfo(const std::wstring& productCode, const std::wstring& property,
                            std::wstring& value) override;

    int GetComponentPath(const std::wstring& productCode, const std::wstring& componentId,
                         std::wstring& path) override;
    Result<std::unique_ptr<IMsiDatabase>> OpenDatabase(const std::wstring& packagePath) override;

    uint32_t SetInternalUI(uint32_t uiLevel) override;
    uint32_t InstallProduct(const std::wstring& packagePath, const std::wstring& commandLine) override;
    uint32_t ConfigureProductEx(const std::wstring& productCode, int installLevel, int installState,
                                const std::wstring& commandLine) override;
    uint32_t ConfigureProduct(const std::wstring& productCode, int installLevel, int installState) override;
};

}  // namespace platform::win32
