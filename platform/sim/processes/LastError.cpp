#include "platform/sim/processes/LastError.h"

namespace sim {

namespace {
thread_local uint32_t t_lastError = 0;
}

uint32_t LastError() { return t_lastError; }
void SetLastError(uint32_t error) { t_lastError = error; }

}  // namespace sim
