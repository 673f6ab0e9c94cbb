#include "platform/sim/processes/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "base/UniqueFd.h"

extern char** environ;

namespace sim {
namespace {

// Descriptors handed to a child are first moved above every target number,
// so that placing one at 3 never overwrites another still to be placed.
constexpr int kAboveTargets = 64;

// A posix_spawn helper object, set up on construction and torn down with it.
template <typename T, int (*Init)(T*), int (*Destroy)(T*)>
class SpawnObject {
public:
    SpawnObject() { ok_ = Init(&object_) == 0; }
    ~SpawnObject() {
        if (ok_) Destroy(&object_);
    }
    SpawnObject(const SpawnObject&) = delete;
    SpawnObject& operator=(const SpawnObject&) = delete;
    bool Ok() const { return ok_; }
    T* Get() { return &object_; }

private:
    T object_;
    bool ok_ = false;
};

using SpawnActions =
    SpawnObject<posix_spawn_file_actions_t, posix_spawn_file_actions_init, posix_spawn_file_actions_destroy>;
using SpawnAttributes = SpawnObject<posix_spawnattr_t, posix_spawnattr_init, posix_spawnattr_destroy>;

}  // namespace

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        Kill();
        pid_ = other.pid_;
        other.pid_ = -1;
    }
    return *this;
}

int ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                        const std::vector<int>& inherited) {
    Kill();
    std::vector<base::UniqueFd> moved;
    for (int fd : inherited) {
        base::UniqueFd high(::fcntl(fd, F_DUPFD_CLOEXEC, kAboveTargets));
        if (!high.Valid()) return errno;
        moved.push_back(std::move(high));
    }

    SpawnActions actions;
    SpawnAttributes attributes;
    if (!actions.Ok() || !attributes.Ok()) return ENOMEM;
    int failed = posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    failed = failed ? failed : posix_spawn_file_actions_addopen(actions.Get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    failed = failed ? failed : posix_spawn_file_actions_addopen(actions.Get(), STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    for (size_t i = 0; i < moved.size() && !failed; ++i) {
        // dup2 leaves the copy without close-on-exec.
        failed = posix_spawn_file_actions_adddup2(actions.Get(), moved[i].Get(), 3 + static_cast<int>(i));
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Whatever the host left open without close-on-exec stays with it.
    if (!failed) failed = posix_spawn_file_actions_addclosefrom_np(actions.Get(), 3 + static_cast<int>(moved.size()));
#endif
    if (failed) return failed;

    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    failed = posix_spawnattr_setsigdefault(attributes.Get(), &all);
    failed = failed ? failed : posix_spawnattr_setsigmask(attributes.Get(), &none);
    failed =
        failed ? failed : posix_spawnattr_setflags(attributes.Get(), POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    if (failed) return failed;

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    failed = posix_spawn(&pid, program.c_str(), actions.Get(), attributes.Get(), argv.data(), environ);
    if (failed) return failed;
    pid_ = pid;
    return 0;
}

bool ChildProcess::WaitUntil(std::chrono::steady_clock::time_point deadline, int& status, bool& known) {
    status = 0;
    known = false;
    if (pid_ <= 0) return true;
    // A child whose descriptors have closed is as good as gone, so the
    // first look nearly always finds it; the pause only grows for one that
    // lingers.
    std::chrono::microseconds pause(50);
    for (;;) {
        const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
        if (ended == pid_) {
            pid_ = -1;
            known = true;
            return true;
        }
        if (ended < 0 && errno != EINTR) {
            pid_ = -1;  // reaped by someone else
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::microseconds(10000));
    }
}

void ChildProcess::Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

}  // namespace sim
