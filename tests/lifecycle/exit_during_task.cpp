// A host that starts a component check and leaves at once: it returns from
// main ("exit") or unloads the library ("unload") while the check's worker
// is still running. Either must end the process cleanly, with the check
// run to its end and its last log line written.
//
//   exit_during_task LIBRARY exit|unload
#include <dlfcn.h>

#include <cstdio>
#include <cstring>

#include "include/Brisalen.h"

namespace {

void IgnoreReport(void*, int32_t, const void*) {}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[2], "exit") != 0 && std::strcmp(argv[2], "unload") != 0)) {
        std::fprintf(stderr, "usage: %s LIBRARY exit|unload\n", argv[0]);
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    using Factory = IFixItunesMgr* (*)();
    auto create = reinterpret_cast<Factory>(dlsym(library, "CreateFixItuensMgr"));
    if (create == nullptr || !create()->CheckAllItunesComponent(&IgnoreReport, nullptr, false)) {
        std::fprintf(stderr, "the check did not start\n");
        return 2;
    }
    if (std::strcmp(argv[2], "unload") == 0) dlclose(library);
    return 0;
}
