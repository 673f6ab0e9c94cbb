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
    // The search, with `first` holding the first match, or why the pattern
    // matches nothing or cannot be searched.
    static Result<std::unique_ptr<IFileSearch>> Start(const std::wstring& pattern, FindData& first);

    explicit Win32FileSearch(FindHandle handle);
    bool Next(FindData& entry) override;

private:
    FindHandle handle_;
};

}  // namespace platform::win32
