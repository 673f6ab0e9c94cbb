// A program started with posix_spawn: the processes that load the simulated
// machine run several threads, and a fork of them could inherit a lock some
// other thread held. The owner of a child that is still running when it
// goes away kills and reaps it, so no child outlives its purpose.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace sim {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { Kill(); }
    ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` (an absolute path) with `args` after argv[0], the
    // caller's environment, every signal at its default action and none
    // blocked. Standard input, output and error are /dev/null; descriptor
    // inherited[i] becomes descriptor 3 + i in the child, and no other
    // descriptor is passed on. 0, or the errno value of the failure.
    int Start(const std::string& program, const std::vector<std::string>& args, const std::vector<int>& inherited);

    bool Running() const { return pid_ > 0; }

    // Waits until the child has ended, at most until `deadline`. True with
    // its wait status once it has ended; true with `known` false when the
    // status is lost (a host that ignores SIGCHLD has children reaped
    // without asking). False when it still runs at the deadline.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline, int& status, bool& known);

    // SIGKILL, then reaps it.
    void Kill();

private:
    pid_t pid_ = -1;
};

}  // namespace sim
