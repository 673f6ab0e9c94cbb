#include "platform/sim/installer/PackageCheck.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/sim/processes/ChildProcess.h"
#include "base/UniqueFd.h"

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;

// Where the child finds what it is given (ChildProcess numbers inherited
// descriptors from 3).
constexpr int kChildPackageFd = 3;
constexpr int kChildReportFd = 4;
constexpr char kSound[] = "sound\n";
constexpr size_t kReportLimit = 64;

// Reads the child's report until it closes its end, which it does by
// ending, or until the deadline. False at the deadline.
bool ReadReport(int fd, Clock::time_point deadline, std::string& report) {
    char buffer[256];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd watch{fd, POLLIN, 0};
        const int ready = ::poll(&watch, 1, static_cast<int>(left.count()) + 1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) return false;
        // A poll that fails leaves the waiting to the child's exit status.
        if (ready < 0) return true;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) return true;
        if (report.size() < kReportLimit) report.append(buffer, static_cast<size_t>(got));
    }
}

std::string Ending(int status, bool known) {
    if (!known) return "ended without getting through";
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        return "died with signal " + std::to_string(signal) + " (" + ::strsignal(signal) + ")";
    }
    if (WIFEXITED(status)) {
        return "ended with exit code " + std::to_string(WEXITSTATUS(status)) + " without getting through";
    }
    return "ended with wait status " + std::to_string(status);
}

}  // namespace

CheckOutcome RunPackageCheck(const PackageCheckLimits& limits, int packageFd, const std::vector<std::string>& queries) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return {CheckEnd::kNotRun, std::string("no pipe: ") + std::strerror(errno)};
    base::UniqueFd readEnd(ends[0]);
    base::UniqueFd writeEnd(ends[1]);

    std::vector<std::string> args{"--memory-mib", std::to_string(limits.memoryMiB), "--report-fd",
                                  std::to_string(kChildReportFd), "/proc/self/fd/" + std::to_string(kChildPackageFd)};
    args.insert(args.end(), queries.begin(), queries.end());
    const auto deadline = Clock::now() + limits.timeLimit;
    ChildProcess child;
    const int failed = child.Start(limits.program, args, {packageFd, writeEnd.Get()});
    if (failed) return {CheckEnd::kNotRun, "cannot start " + limits.program + ": " + std::strerror(failed)};
    // Only the child holds the write end now, so end of file means it ended.
    writeEnd.Reset();

    std::string report;
    int status = 0;
    bool known = false;
    if (!ReadReport(readEnd.Get(), deadline, report) || !child.WaitUntil(deadline, status, known)) {
        child.Kill();
        return {CheckEnd::kTimedOut, "took longer than " + std::to_string(limits.timeLimit.count()) + " ms"};
    }
    const bool exitedCleanly = !known || (WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (report == kSound && exitedCleanly) return {CheckEnd::kSound, std::string()};
    return {CheckEnd::kFailed, Ending(status, known)};
}

}  // namespace sim
