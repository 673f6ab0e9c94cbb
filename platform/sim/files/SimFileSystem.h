// IFileSystem over the drive folders of a simulated machine, answering with
// the attribute bits, search order and error codes NTFS and Win32 give.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/sim/Api.h"
#include "platform/sim/store/Machine.h"

namespace sim {

class SIM_API SimFileSystem : public platform::IFileSystem {
public:
    explicit SimFileSystem(std::shared_ptr<Machine> machine) : machine_(std::move(machine)) {}

    bool Exists(const std::wstring& path) override;
    uint32_t GetAttributes(const std::wstring& path) override;
    uint32_t SetAttributes(const std::wstring& path, uint32_t attributes) override;
    platform::Result<platform::FindData> GetAttributesEx(const std::wstring& path) override;
    platform::Result<std::unique_ptr<platform::IFileSearch>> FindFirst(const std::wstring& pattern,
                                                                       platform::FindData& first) override;
    uint32_t DeleteFile(const std::wstring& path) override;
    uint32_t RemoveDirectory(const std::wstring& path) override;
    uint32_t CreateDirectory(const std::wstring& path) override;
    uint32_t CopyFile(const std::wstring& from, const std::wstring& to, bool failIfExists) override;
    uint32_t MoveFile(const std::wstring& from, const std::wstring& to) override;
    platform::Result<std::unique_ptr<platform::IFile>> Open(const std::wstring& path, platform::OpenMode mode) override;
    uint32_t GetPrivateProfileInt(const std::wstring& section, const std::wstring& key, int32_t defaultValue,
                                  const std::wstring& path) override;
    uint32_t WritePrivateProfileString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                                       const std::wstring& path) override;
    std::string NativePath(const std::wstring& path) override;
    std::wstring FullPathName(const std::wstring& path) override;
    std::wstring CaseFoldedPath(const std::wstring& path) override;
    std::wstring FinalPathName(const std::wstring& path) override;

private:
    std::wstring CurrentFolder() const;
    std::wstring OnCurrentDrive(const std::wstring& path) const;
    struct Target;
    Target Locate(const std::wstring& path) const;
    uint32_t Attributes(const Target& target) const;
    FileMeta LinkMeta(const std::string& host) const;
    std::vector<platform::FindData> List(const Target& folder, const std::wstring& namePattern) const;
    platform::FindData Describe(const Target& target, const std::wstring& name) const;
    uint32_t WriteCheck(const Target& target) const;

    std::shared_ptr<Machine> machine_;
};

}  // namespace sim
