#include "platform/win32/Win32Installer.h"

#include "platform/win32/Win32MsiDatabase.h"
#include "platform/win32/Win32MsiText.h"

namespace platform::win32 {
namespace {

// A product code is a braced GUID: 38 characters and the terminator.
constexpr size_t kProductCodeLength = 39;

}  // namespace

// Without a file name Windows Installer stops logging, which is what an
// empty name means to the caller too.
uint32_t Win32Installer::EnableLog(uint32_t logMode, const std::wstring& logFile, uint32_t attributes) {
    return ::MsiEnableLogW(logMode, logFile.empty() ? nullptr : logFile.c_str(), attributes);
}

uint32_t Win32Installer::EnumProducts(uint32_t index, std::wstring& productCode) {
    wchar_t code[kProductCodeLength] = {};
    const UINT status = ::MsiEnumProductsW(index, code);
    if (status == ERROR_SUCCESS) productCode = code;
    return status;
}

uint32_t Win32Installer::IsProductElevated(const std::wstring& productCode, bool& elevated) {
    BOOL answer = FALSE;
    const UINT status = ::MsiIsProductElevatedW(productCode.c_str(), &answer);
    if (status == ERROR_SUCCESS) elevated = answer != FALSE;
    return status;
}

uint32_t Win32Installer::GetProductInfo(const std::wstring& productCode, const std::wstring& property,
                                        std::wstring& value) {
    return ReadMsiText(
        [&](wchar_t* buffer, DWORD* length) {
            return ::MsiGetProductInfoW(productCode.c_str(), property.c_str(), buffer, length);
        },
        value);
}

int Win32Installer::GetComponentPath(const std::wstring& productCode, const std::wstring& componentId,
                                     std::wstring& path) {
    path.clear();
    // The length it asks for leaves out the terminator, and the answer for
    // a buffer too small is a state of its own, not ERROR_MORE_DATA.
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const INSTALLSTATE state = ::MsiGetComponentPathW(productCode.c_str(), componentId.c_str(), &buffer[0], &length);
        if (state != INSTALLSTATE_MOREDATA) {
            if (state == INSTALLSTATE_LOCAL || state == INSTALLSTATE_SOURCE || state == INSTALLSTATE_ABSENT) {
                buffer.resize(length < buffer.size() ? length : buffer.size() - 1);
                path = buffer;
            }
            return state;
        }
        buffer.assign(static_cast<size_t>(length) + 1, L'\0');
    }
    return kInstallStateMoreData;
}

Result<std::unique_ptr<IMsiDatabase>> Win32Installer::OpenDatabase(const std::wstring& packagePath) {
    return Win32MsiDatabase::Open(packagePath);
}

uint32_t Win32Installer::SetInternalUI(uint32_t uiLevel) {
    return static_cast<uint32_t>(::MsiSetInternalUI(static_cast<INSTALLUILEVEL>(uiLevel), nullptr));
}

uint32_t Win32Installer::InstallProduct(const std::wstring& packagePath, const std::wstring& commandLine) {
    return ::MsiInstallProductW(packagePath.c_str(), commandLine.c_str());
}

uint32_t Win32Installer::ConfigureProductEx(const std::wstring& productCode, int installLevel, int installState,
                                            const std::wstring& commandLine) {
    return ::MsiConfigureProductExW(productCode.c_str(), installLevel, static_cast<INSTALLSTATE>(installState),
                                    commandLine.c_str());
}

uint32_t Win32Installer::ConfigureProduct(const std::wstring& productCode, int installLevel, int installState) {
    return ::MsiConfigureProductW(productCode.c_str(), installLevel, static_cast<INSTALLSTATE>(installState));
}

}  // namespace platform::win32
