#include "HiddenProcess.h"

#include <windows.h>

#include <vector>

#include "Win32Handles.h"

namespace removepackage {

namespace {

// The exit code of a removal ended at its time limit.
constexpr UINT kEndedAtLimit = 0x5B4;  // ERROR_TIMEOUT
// How long an ended program gets to go before its handle is let go.
constexpr DWORD kEndWaitMs = 5000;

}  // namespace

ProcessOutcome RunHidden(const std::wstring& program, const std::wstring& commandLine, uint32_t limitMs) {
    ProcessOutcome outcome;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION started{};
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &started)) {
        outcome.error = ::GetLastError();
        return outcome;
    }
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);

    // A wait that fails is treated as one that ran out: either way the
    // program must not be left running unwatched.
    const DWORD waited = ::WaitForSingleObject(process.Get(), limitMs);
    if (waited != WAIT_OBJECT_0) {
        ::TerminateProcess(process.Get(), kEndedAtLimit);
        ::WaitForSingleObject(process.Get(), kEndWaitMs);
        outcome.kind = ProcessOutcome::Kind::TimedOut;
        return outcome;
    }
    DWORD exitCode = 0;
    if (!::GetExitCodeProcess(process.Get(), &exitCode)) exitCode = ::GetLastError();
    outcome.kind = ProcessOutcome::Kind::Exited;
    outcome.exitCode = exitCode;
    return outcome;
}

}  // namespace removepackage
