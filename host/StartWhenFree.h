// The library sends a scan's or a check's final report before it frees the
// task's slot, so a host that starts the next task of the same kind as soon
// as that report arrives can be refused for the moment the worker needs to
// return. A host that knows its own previous task has ended retries such a
// refused start for a short while instead of failing. Each refused attempt
// writes the library's refusal line to its log.
#pragma once

#include <chrono>
#include <thread>

template <typename StartFn>
bool StartWhenFree(StartFn&& start, std::chrono::milliseconds window = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + window;
    for (;;) {
        if (start()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
