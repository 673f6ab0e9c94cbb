// Runs a program without a window and waits for it for a limited time.
#pragma once

#include <cstdint>
#include <string>

namespace removepackage {

struct ProcessOutcome {
    enum class Kind { Exited, CannotStart, TimedOut };
    Kind kind = Kind::CannotStart;
    uint32_t exitCode = 0;  // when it exited
    uint32_t error = 0;     // GetLastError when it could not start
};

// Starts `program` (a full path) with `commandLine` (whose first word is
// the program, quoted) hidden, and waits up to `limitMs`. A program that
// outlives the limit is ended.
ProcessOutcome RunHidden(const std::wstring& program, const std::wstring& commandLine, uint32_t limitMs);

}  // namespace removepackage
