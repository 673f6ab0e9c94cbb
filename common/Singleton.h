// The library's process-wide objects: each is created on first use and all
// are destroyed together, newest first, when the library shuts down.
//
// Keeping them in one registry rather than as scattered function-local
// statics is what makes shutdown defined: the runtime would destroy such
// statics one by one while a task's worker may still use them, and in an
// order that depends on which was touched first. LibraryShutdown() waits for
// the workers (where the platform lets it) and only then destroys.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/ProcessEnv.h"

class SingletonRegistry {
public:
    // Held while an object is built, so two threads never build the same
    // one; recursive because constructors reach other singletons.
    static std::recursive_mutex& CreationLock();
    // `destroy` runs at DestroyAll, after every object created later.
    static void Register(std::function<void()> destroy);
    // Destroys every object created so far, newest first. The next
    // Instance() call builds a fresh one.
    static void DestroyAll();
};

template <typename T>
class Singleton {
public:
    // The object, built by `make` (returning std::unique_ptr<T>) on the
    // first call; later calls return the same one until DestroyAll.
    template <typename Make>
    static T& Instance(Make&& make) {
        if (T* existing = instance_.load(std::memory_order_acquire)) return *existing;
        std::lock_guard<std::recursive_mutex> lock(SingletonRegistry::CreationLock());
        if (T* existing = instance_.load(std::memory_order_relaxed)) return *existing;
        std::shared_ptr<T> owner(make());
        instance_.store(owner.get(), std::memory_order_release);
        SingletonRegistry::Register([owner]() mutable {
            instance_.store(nullptr, std::memory_order_release);
            owner.reset();
        });
        return *instance_.load(std::memory_order_relaxed);
    }

private:
    static inline std::atomic<T*> instance_{nullptr};
};

// Waits for every task worker of the library to end (where the platform
// allows waiting), then destroys the singletons. Runs when the library is
// unloaded or the process exits, before any other static of the library
// goes; tests call it to start each case from a fresh library.
void LibraryShutdown(platform::IProcessEnv& process);

// Registers LibraryShutdown to run at unload. Called once from the load
// entry, after logging is set up, so it runs before the logging back end's
// own statics are destroyed.
void RegisterLibraryShutdown(platform::IProcessEnv& process);
