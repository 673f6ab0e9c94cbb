// Calls into a companion library run under the process's fault guard, and
// what ended each call that did not return is written to the log.
#pragma once

#include "platform/ProcessEnv.h"

// Writes the lines for a guarded companion call that did not return: for an
// exception "ERR:Exception at FILE.OPERATION" and the exception's code, for
// a refused call the companion's name and why it was not called. `file` is
// the calling class's source file. True when the call returned.
bool ReportCompanionCall(const platform::GuardOutcome& outcome, const wchar_t* companion, const char* file,
                         const wchar_t* operation);

// Runs `call()` under `process`'s guard and reports how it ended; true when
// it returned.
template <typename Call>
bool CallCompanion(platform::IProcessEnv& process, const wchar_t* companion, const char* file, const wchar_t* operation,
                   Call& call) {
    const platform::GuardOutcome outcome =
        process.RunGuarded([](void* context) { (*static_cast<Call*>(context))(); }, &call);
    return ReportCompanionCall(outcome, companion, file, operation);
}
