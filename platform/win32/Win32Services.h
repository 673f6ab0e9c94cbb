// The Service Control Manager through advapi32. Configurations are read
// with a size probe and a retry on ERROR_INSUFFICIENT_BUFFER, so their
// strings come back whole.
#pragma once

#include "platform/Services.h"

namespace platform::win32 {

class Win32Services final : public IServiceManager {
public:
    Result<std::unique_ptr<IServiceDatabase>> OpenManager(uint32_t access) override;
};

}  // namespace platform::win32
