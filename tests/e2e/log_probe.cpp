// Makes the log call fault while it formats, as a caller's bad argument
// does, and shows that the call survives it: each faulting call leaves the
// decorated fatal-error line, the call after it its own text, and the probe
// reaches its end and exits 0. The pairs run on the main thread and again on
// a second thread, whose chain of guards is its own.
#include <windows.h>

#include <cstdio>
#include <thread>

#include "logging/Log.h"

namespace {

// An address that was mapped a moment ago and is not any more: reading
// through it faults wherever the system put the page.
const void* ReleasedPage() {
    void* page = ::VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (page == nullptr || !::VirtualFree(page, 0, MEM_RELEASE)) return nullptr;
    return page;
}

}  // namespace

// Outside the anonymous namespace so the log lines name it plainly. The
// scenario finds the two faulting calls by their trailing markers.
void FaultThenGoOn(const char* where, const void* gone) {
    LOG_INFO_W(L"wide argument on %s: %s", logging::Widen(where), static_cast<const wchar_t*>(gone));  // fault:wide
    LOG_INFO_W(L"after the wide fault on %s", logging::Widen(where));
    LOG_INFO_A("narrow argument on %s: %s", where, static_cast<const char*>(gone));  // fault:narrow
    LOG_INFO_A("after the narrow fault on %s", where);
}

int main() {
    logging::Setup(L"log_probe.log", nullptr);
    const void* gone = ReleasedPage();
    if (gone == nullptr) {
        std::printf("no page to release\n");
        return 2;
    }
    FaultThenGoOn("the main thread", gone);
    std::thread second(FaultThenGoOn, "a second thread", gone);
    second.join();
    std::printf("log probe reached its end\n");
    return 0;
}
