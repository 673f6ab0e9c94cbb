// An open file behind a CreateFileW handle.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32/UniqueHandle.h"
#include "platform/win32/WinApi.h"

#include "platform/FileSystem.h"

namespace platform::win32 {

class Win32File final : public IFile {
public:
    explicit Win32File(FileHandle handle);

    uint64_t Size() override;
    size_t Read(void* buffer, size_t count) override;
    bool Write(const void* data, size_t count) override;

private:
    FileHandle handle_;
};

}  // namespace platform::win32
