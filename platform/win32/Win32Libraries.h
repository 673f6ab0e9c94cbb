// LoadLibraryW and GetProcAddress.
#pragma once

#include "platform/Libraries.h"

namespace platform::win32 {

class Win32Libraries final : public ILibraries {
public:
    Result<std::unique_ptr<ILibrary>> Load(const std::wstring& name) override;
};

}  // namespace platform::win32
