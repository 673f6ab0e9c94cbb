#include "Brisalen/CompanionCall.h"

#include "logging/Log.h"

bool ReportCompanionCall(const platform::GuardOutcome& outcome, const wchar_t* companion, const char* file,
                         const wchar_t* operation) {
    using End = platform::GuardOutcome::End;
    switch (outcome.end) {
        case End::kReturned:
            return true;
        case End::kException:
            LOG_INFO_W(L"ERR:Exception at %s.%s", logging::Widen(file), operation);
            LOG_INFO_W(L"ERR:%s ended by exception 0x%08X", companion, outcome.exceptionCode);
            return false;
        case End::kRefused:
            LOG_INFO_W(L"ERR:%s not called at %s.%s: %s", companion, logging::Widen(file), operation,
                       outcome.refusal);
            return false;
    }
    return false;
}
