// Loads Brisalen from the host's own folder and resolves its exports, the
// way a host application does at run time.
#pragma once

#include <memory>
#include <string>

class LoadedLibrary {
public:
    // Null with `error` set when the library or an export is missing.
    static std::unique_ptr<LoadedLibrary> Load(const std::string& path, std::string& error);
    explicit LoadedLibrary(void* handle) : handle_(handle) {}
    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    void* Symbol(const char* name) const;

private:
    void* handle_;
};

// The library file next to the running host program.
std::string DefaultLibraryPath();
