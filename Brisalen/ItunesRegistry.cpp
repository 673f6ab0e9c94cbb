#include "Brisalen/ItunesRegistry.h"

#include <memory>

#include "Brisalen/ProductFamily.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"

namespace {

constexpr wchar_t kItunesKey[] = L"SOFTWARE\\Apple Computer, Inc.\\iTunes";

platform::Result<std::unique_ptr<platform::IRegistryKey>> OpenItunesKey(platform::IRegistry& registry,
                                                                        uint32_t access) {
    return registry.OpenKey(platform::RegistryRoot::LocalMachine, kItunesKey, access | platform::kKeyWow64_64);
}

}  // namespace

bool QueryItunesInfoReg(platform::IRegistry& registry, std::wstring& strInstallDir, std::wstring& strVersion) {
    const auto opened = OpenItunesKey(registry, platform::kKeyRead);
    if (!opened) {
        LOG_INFO_W(L"ERR:query itunes info fail!\n");
        return false;
    }
    platform::IRegistryKey& key = **opened;
    std::wstring value;
    if (key.QueryString(L"InstallDir", value) == platform::kErrSuccess) strInstallDir = value;
    if (key.QueryString(L"Version", value) == platform::kErrSuccess) strVersion = value;
    LOG_INFO_W(L"Reg:InstallDir = [%s],version = [%s]\n", strInstallDir, strVersion);
    return true;
}

void ClearItunesInfoReg(platform::IRegistry& registry) {
    LOG_INFO_W(L"Clear Reg info begin");
    auto opened = OpenItunesKey(registry, platform::kKeyWrite);
    if (!opened) {
        LOG_INFO_W(L"ERR:query itunes info fail!\n");
        return;
    }
    std::unique_ptr<platform::IRegistryKey> key = opened.Take();
    key->DeleteValue(L"Version");
    key->DeleteValue(L"InstallDir");
    key.reset();
    LOG_INFO_W(L"Clear Reg info end!");
}

bool MayDeleteInstallDir(int32_t nType, const std::wstring& strInstallDir) {
    const ProductFamilyRecord* product = FamilyRecord(nType);
    if (product == nullptr || product->folderMustSay == nullptr) return true;
    return AsciiLower(strInstallDir).find(product->folderMustSay) != std::wstring::npos;
}
