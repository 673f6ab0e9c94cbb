// The bridge from a C host's task callback to the C++ one the engines call.
// Each started task gets an adapter of its own, holding the host's function
// and pointer, that turns every record into its C form for the duration of
// the call. An adapter lives until its task's final record has been passed
// on: a start refused while the last task still reports must not take the
// running task's adapter away.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>

class CTaskAdapterShelf {
public:
    struct Adapter {
        virtual ~Adapter() = default;
        // Set once the final record has reached the host.
        std::atomic<bool> finished{false};
    };

    static CTaskAdapterShelf& Instance();

    // Keeps `adapter`; adapters whose task has ended go first.
    template <typename Concrete>
    Concrete* Keep(std::unique_ptr<Concrete> adapter) {
        Concrete* kept = adapter.get();
        std::lock_guard<std::mutex> lock(lock_);
        adapters_.remove_if([](const std::unique_ptr<Adapter>& a) { return a->finished.load(); });
        adapters_.push_back(std::move(adapter));
        return kept;
    }

    // For an adapter whose task never started.
    void Drop(const Adapter* adapter) {
        std::lock_guard<std::mutex> lock(lock_);
        adapters_.remove_if([adapter](const std::unique_ptr<Adapter>& a) { return a.get() == adapter; });
    }

    size_t Held() const {
        std::lock_guard<std::mutex> lock(lock_);
        return adapters_.size();
    }

private:
    mutable std::mutex lock_;
    std::list<std::unique_ptr<Adapter>> adapters_;
};

// A host callback of type `Callback` with its pointer, and the state that
// ends its task.
template <typename Callback>
struct CallbackAdapter : CTaskAdapterShelf::Adapter {
    CallbackAdapter(Callback function, void* user, int finalState)
        : function(function), user(user), finalState(finalState) {}
    Callback function;
    void* user;
    int finalState;
};

// Starts a task through `start` (taking the adapter as the C++ callback's
// user pointer, or null when the host gave no callback); false when the
// task did not start.
template <typename Callback, typename Start>
bool StartWithAdapter(Callback function, void* user, int finalState, const Start& start) {
    if (function == nullptr) return start(nullptr);
    CTaskAdapterShelf& shelf = CTaskAdapterShelf::Instance();
    auto* adapter = shelf.Keep(std::make_unique<CallbackAdapter<Callback>>(function, user, finalState));
    const bool started = start(adapter);
    if (!started) shelf.Drop(adapter);
    return started;
}
