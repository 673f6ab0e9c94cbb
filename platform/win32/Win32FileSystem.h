// Files and folders through the W file functions, long paths included.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/win32/WinApi.h"

#include "platform/FileSystem.h"

namespace platform::win32 {

class Win32FileSystem final : public IFileSystem {
public:
    bool Exists(const std::wstring& path) override;
    uint32_t GetAttributes(const std::wstring& path) override;
    uint32_t SetAttributes(const std::wstring& path, uint32_t attributes) override;
    Result<FindData> GetAttributesEx(const std::wstring& path) override;
    Result<std::unique_ptr<IFileSearch>> FindFirst(const std::wstring& pattern, FindData& first) override;
    uint32_t DeleteFile(const std::wstring& path) override;
    uint32_t RemoveDirectory(const std::wstring& path) override;
    uint32_t CreateDirectory(const std::wstring& path) override;
    uint32_t CopyFile(const std::wstring& from, const std::wstring& to, bool failIfExists) override;
    uint32_t MoveFile(const std::wstring& from, const std::wstring& to) override;
    Result<std::unique_ptr<IFile>> Open(const std::wstring& path, OpenMode mode) override;
    uint32_t GetPrivateProfileInt(const std::wstring& section, const std::wstring& key, int32_t defaultValue,
                                  const std::wstring& path) override;
    uint32_t WritePrivateProfileString(const std::wstring& section, const std::wstring& key,
                                       const std::wstring& value, const std::wstring& path) override;
    // The path in the ANSI code page: libraries with 8-bit paths open files
    // through the CRT (fopen), which reads its path in that code page.
    // Characters the code page lacks cannot survive the trip.
    std::string NativePath(const std::wstring& path) override;
    std::wstring FullPathName(const std::wstring& path) override;
    std::wstring CaseFoldedPath(const std::wstring& path) override;
    std::wstring FinalPathName(const std::wstring& path) override;
};

}  // namespace platform::win32
