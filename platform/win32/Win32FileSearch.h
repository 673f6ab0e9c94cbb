// A directory search over FindFirstFileExW / FindNextFileW.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/win32/UniqueHandle.h"
#include "platform/win32/WinApi.h"

#include "platform/FileSystem.h"

namespace platform::win32 {

class Win32FileSearch final : public IFileSearch {
public:
    // Null with `error` set when the pattern matches nothing or cannot be
    // searched; otherwise `first` holds the first match.
    static std::unique_ptr<IFileSearch> Start(const std::wstring& pattern, FindData& first, uint32_t& error);

    explicit Win32FileSearch(FindHandle handle);
    bool Next(FindData& entry) override;

private:
    FindHandle handle_;
};

}  // namespace platform::win32
