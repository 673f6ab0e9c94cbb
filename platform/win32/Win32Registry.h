// The registry through advapi32. String values are read with a size probe
// and a retry on ERROR_MORE_DATA, so a value of any length comes back whole.
#pragma once

#include "platform/Registry.h"

namespace platform::win32 {

class Win32Registry final : public IRegistry {
public:
    uint32_t OpenKey(RegistryRoot root, const std::wstring& path, uint32_t access,
                     std::unique_ptr<IRegistryKey>& key) override;
    uint32_t CreateKey(RegistryRoot root, const std::wstring& path, uint32_t access,
                       std::unique_ptr<IRegistryKey>& key) override;
};

}  // namespace platform::win32
