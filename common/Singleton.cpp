#include "common/Singleton.h"

#include <cstdlib>
#include <vector>

#include "platform/NoDestructor.h"

namespace {

struct Registry {
    std::recursive_mutex creation;
    std::mutex destroyersLock;
    std::vector<std::function<void()>> destroyers;
};

Registry& TheRegistry() {
    static platform::NoDestructor<Registry> registry;
    return *registry;
}

// The process the library was loaded into, for the shutdown at exit.
platform::IProcessEnv* loadedInto = nullptr;

void ShutdownAtExit() {
    if (loadedInto != nullptr) LibraryShutdown(*loadedInto);
}

}  // namespace

std::recursive_mutex& SingletonRegistry::CreationLock() { return TheRegistry().creation; }

void SingletonRegistry::Register(std::function<void()> destroy) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.destroyersLock);
    registry.destroyers.push_back(std::move(destroy));
}

void SingletonRegistry::DestroyAll() {
    Registry& registry = TheRegistry();
    std::lock_guard<std::recursive_mutex> creation(registry.creation);
    for (;;) {
        std::function<void()> destroy;
        {
            std::lock_guard<std::mutex> lock(registry.destroyersLock);
            if (registry.destroyers.empty()) return;
            destroy = std::move(registry.destroyers.back());
            registry.destroyers.pop_back();
        }
        // Outside the list's lock: a destructor may still reach a singleton
        // created before it.
        destroy();
    }
}

void LibraryShutdown(platform::IProcessEnv& process) {
    if (process.MayWaitForWorkersAtUnload()) process.WaitForWorkers();
    SingletonRegistry::DestroyAll();
}

void RegisterLibraryShutdown(platform::IProcessEnv& process) {
    loadedInto = &process;
    std::atexit(&ShutdownAtExit);
}
