// A platform that is another one in everything but its file system, which
// forwards to the other's unless a test overrides a call: how a test makes
// one file system call fail for one engine while the rest of the machine
// behaves as the simulated one does.
#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"

class ForwardingFileSystem : public platform::IFileSystem {
public:
    explicit ForwardingFileSystem(platform::IFileSystem& inner) : inner_(inner) {}

    bool Exists(const std::wstring& path) override { return inner_.Exists(path); }
    uint32_t GetAttributes(const std::wstring& path) override { return inner_.GetAttributes(path); }
    uint32_t SetAttributes(const std::wstring& path, uint32_t attributes) override {
        return inner_.SetAttributes(path, attributes);
    }
    platform::Result<platform::FindData> GetAttributesEx(const std::wstring& path) override {
        return inner_.GetAttributesEx(path);
    }
    platform::Result<std::unique_ptr<platform::IFileSearch>> FindFirst(const std::wstring& pattern,
                                                                       platform::FindData& first) override {
        return inner_.FindFirst(pattern, first);
    }
    uint32_t DeleteFile(const std::wstring& path) override { return inner_.DeleteFile(path); }
    uint32_t RemoveDirectory(const std::wstring& path) override { return inner_.RemoveDirectory(path); }
    uint32_t CreateDirectory(const std::wstring& path) override { return inner_.CreateDirectory(path); }
    uint32_t CopyFile(const std::wstring& from, const std::wstring& to, bool failIfExists) override {
        return inner_.CopyFile(from, to, failIfExists);
    }
    uint32_t MoveFile(const std::wstring& from, const std::wstring& to) override { return inner_.MoveFile(from, to); }
    platform::Result<std::unique_ptr<platform::IFile>> Open(const std::wstring& path,
                                                            platform::OpenMode mode) override {
        return inner_.Open(path, mode);
    }
    uint32_t GetPrivateProfileInt(const std::wstring& section, const std::wstring& key, int32_t defaultValue,
                                  const std::wstring& path) override {
        return inner_.GetPrivateProfileInt(section, key, defaultValue, path);
    }
    uint32_t WritePrivateProfileString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                                       const std::wstring& path) override {
        return inner_.WritePrivateProfileString(section, key, value, path);
    }
    std::string NativePath(const std::wstring& path) override { return inner_.NativePath(path); }
    std::wstring FullPathName(const std::wstring& path) override { return inner_.FullPathName(path); }
    std::wstring CaseFoldedPath(const std::wstring& path) override { return inner_.CaseFoldedPath(path); }
    std::wstring FinalPathName(const std::wstring& path) override { return inner_.FinalPathName(path); }

private:
    platform::IFileSystem& inner_;
};

class PlatformWithFiles : public platform::Platform {
public:
    PlatformWithFiles(platform::Platform& inner, platform::IFileSystem& files) : inner_(inner), files_(files) {}

    platform::IFileSystem& Files() override { return files_; }
    platform::IMachineInfo& Machine() override { return inner_.Machine(); }
    platform::IProcessEnv& Process() override { return inner_.Process(); }
    platform::IProcesses& Processes() override { return inner_.Processes(); }
    platform::ICodePages& CodePages() override { return inner_.CodePages(); }
    platform::IInstaller& Installer() override { return inner_.Installer(); }
    platform::ILibraries& Libraries() override { return inner_.Libraries(); }
    platform::IRegistry& Registry() override { return inner_.Registry(); }
    platform::IServiceManager& Services() override { return inner_.Services(); }

private:
    platform::Platform& inner_;
    platform::IFileSystem& files_;
};
