// Storage for a process-wide object that is built on first use and never
// destroyed.
//
// Worker threads of the library may still run while the runtime tears down
// static objects (a host that returns from main during a task, or a Windows
// unload that cannot wait for them). Objects such threads reach, such as
// lookup tables, locks and log call-site names, are therefore kept for the
// whole life of the process: their memory goes back with the process.
#pragma once

#include <new>
#include <utility>

namespace platform {

template <typename T>
class NoDestructor {
public:
    template <typename... Args>
    explicit NoDestructor(Args&&... args) {
        ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
    }
    NoDestructor(const NoDestructor&) = delete;
    NoDestructor& operator=(const NoDestructor&) = delete;
    // Deliberately leaves the object alive.
    ~NoDestructor() = default;

    T& operator*() { return *get(); }
    const T& operator*() const { return *get(); }
    T* operator->() { return get(); }
    const T* operator->() const { return get(); }
    T* get() { return std::launder(reinterpret_cast<T*>(storage_)); }
    const T* get() const { return std::launder(reinterpret_cast<const T*>(storage_)); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace platform
