// Windows Installer (msi.dll): installed products, read-only package
// databases, and the install/uninstall calls. Results are Windows Installer
// error codes (0 success, 259 no more items, 1605 unknown product, 1608
// unknown property, 1618 another install running, 3010 restart needed ...).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Result.h"

namespace platform {

// INSTALLUILEVEL_NONE, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT.
constexpr uint32_t kInstallUiLevelNone = 2;
constexpr int kInstallLevelDefault = 0;
constexpr int kInstallStateAbsent = 2;

// One fetched row. Fields are 1-based, as in MsiRecordGet*.
class IMsiRecord {
public:
    virtual ~IMsiRecord() = default;
    // The whole text of a field; empty for a null field or a bad index.
    virtual std::wstring GetString(unsigned field) const = 0;
    // MSI_NULL_INTEGER (0x80000000) for a null or non-integer field.
    virtual int GetInteger(unsigned field) const = 0;
};

class IMsiView {
public:
    virtual ~IMsiView() = default;
    virtual uint32_t Execute() = 0;
    // The next row; error 259 after the last one, another code on failure.
    virtual Result<std::unique_ptr<IMsiRecord>> Fetch() = 0;
};

class IMsiDatabase {
public:
    virtual ~IMsiDatabase() = default;
    // MsiDatabaseOpenViewW: the prepared view, not yet executed.
    virtual Result<std::unique_ptr<IMsiView>> OpenView(const std::wstring& sql) = 0;
};

// The INSTALLSTATE values a component path answers with.
constexpr int kInstallStateUnknown = -1;
constexpr int kInstallStateLocal = 3;
constexpr int kInstallStateMoreData = -3;

class IInstaller {
public:
    virtual ~IInstaller() = default;
    // MsiEnableLogW for the rest of the process.
    virtual uint32_t EnableLog(uint32_t logMode, const std::wstring& logFile, uint32_t attributes) = 0;

    // MsiEnumProductsW: the product code (a braced GUID) at `index`.
    virtual uint32_t EnumProducts(uint32_t index, std::wstring& productCode) = 0;
    // MsiIsProductElevatedW.
    virtual uint32_t IsProductElevated(const std::wstring& productCode, bool& elevated) = 0;
    // MsiGetProductInfoW, read whole however long the value is.
    virtual uint32_t GetProductInfo(const std::wstring& productCode, const std::wstring& property,
                                    std::wstring& value) = 0;

    // MsiGetComponentPathW: where the component of the product keeps its
    // key path (a file, a folder ending in "\\", or a registry value
    // written "02:\\..."), read whole; returns the INSTALLSTATE
    // (kInstallStateLocal when it is on the machine, kInstallStateUnknown
    // for a component or product the Installer does not know).
    virtual int GetComponentPath(const std::wstring& productCode, const std::wstring& componentId,
                                 std::wstring& path) = 0;

    // MsiOpenDatabaseW with MSIDBOPEN_READONLY.
    virtual Result<std::unique_ptr<IMsiDatabase>> OpenDatabase(const std::wstring& packagePath) = 0;

    // MsiSetInternalUI with no owner window; returns the previous level.
    virtual uint32_t SetInternalUI(uint32_t uiLevel) = 0;
    // MsiInstallProductW.
    virtual uint32_t InstallProduct(const std::wstring& packagePath, const std::wstring& commandLine) = 0;
    // MsiConfigureProductExW.
    virtual uint32_t ConfigureProductEx(const std::wstring& productCode, int installLevel, int installState,
                                        const std::wstring& commandLine) = 0;
    // MsiConfigureProductW.
    virtual uint32_t ConfigureProduct(const std::wstring& productCode, int installLevel, int installState) = 0;
};

}  // namespace platform
