// The registry through advapi32. String values are read with a size probe
// and a retry on ERROR_MORE_DATA, so a value of any length comes back whole.
#pragma once

#include "platform/Registry.h"

namespace platform::win32 {

class Win32Registry final : public IRegistry {
public:
    Result<std::unique_ptr<IRegistryKey>> OpenKey(RegistryRoot root, const std::wstring& path,
                                                  uint32_t access) override;
    Result<std::unique_ptr<IRegistryKey>> CreateKey(RegistryRoot root, const std::wstring& path,
                                                    uint32_t access) override;
};

}  // namespace platform::win32
