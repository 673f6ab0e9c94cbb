// The registry (advapi32): keys opened under a root, string values read
// whole, values deleted.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Result.h"

namespace platform {

enum class RegistryRoot { LocalMachine, CurrentUser };

// REGSAM bits the library uses.
enum RegistryAccess : uint32_t {
    kKeyRead = 0x20019,
    kKeyWrite = 0x20006,
    kKeyWow64_64 = 0x0100,
};

class IRegistryKey {
public:
    virtual ~IRegistryKey() = default;
    // A string value (REG_SZ or REG_EXPAND_SZ, unexpanded) of any length,
    // cut at its first zero character. Windows error code, 0 on success.
    virtual uint32_t QueryString(const std::wstring& name, std::wstring& value) = 0;
    virtual uint32_t SetString(const std::wstring& name, const std::wstring& value) = 0;
    virtual uint32_t DeleteValue(const std::wstring& name) = 0;
};

class IRegistry {
public:
    virtual ~IRegistry() = default;
    // RegOpenKeyExW; the key closes when the object goes away.
    virtual Result<std::unique_ptr<IRegistryKey>> OpenKey(RegistryRoot root, const std::wstring& path,
                                                          uint32_t access) = 0;
    // RegCreateKeyExW: opens the key, creating it and its parents.
    virtual Result<std::unique_ptr<IRegistryKey>> CreateKey(RegistryRoot root, const std::wstring& path,
                                                            uint32_t access) = 0;
};

}  // namespace platform
