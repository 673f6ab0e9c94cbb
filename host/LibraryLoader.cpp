#include "host/LibraryLoader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

#include <vector>

#if defined(_WIN32)

std::unique_ptr<LoadedLibrary> LoadedLibrary::Load(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    return std::make_unique<LoadedLibrary>(reinterpret_cast<void*>(module));
}

LoadedLibrary::~LoadedLibrary() { FreeLibrary(reinterpret_cast<HMODULE>(handle_)); }

void* LoadedLibrary::Symbol(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name));
}

std::string DefaultLibraryPath() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size()) {
            std::string exe(buffer.data(), length);
            return exe.substr(0, exe.find_last_of("\\/") + 1) + "Brisalen.dll";
        }
        buffer.resize(buffer.size() * 2);
    }
}

#else

std::unique_ptr<LoadedLibrary> LoadedLibrary::Load(const std::string& path, std::string& error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        error = dlerror();
        return nullptr;
    }
    return std::make_unique<LoadedLibrary>(handle);
}

LoadedLibrary::~LoadedLibrary() { dlclose(handle_); }

void* LoadedLibrary::Symbol(const char* name) const { return dlsym(handle_, name); }

std::string DefaultLibraryPath() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    std::string exe = length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
    return exe.substr(0, exe.find_last_of('/') + 1) + "libBrisalen.so";
}

#endif
