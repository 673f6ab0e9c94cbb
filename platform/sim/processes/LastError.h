// GetLastError/SetLastError of the simulated machine: one value per thread,
// left behind by the last failing seam call on that thread.
#pragma once

#include <cstdint>

#include "platform/sim/Api.h"

namespace sim {

SIM_API uint32_t LastError();
SIM_API void SetLastError(uint32_t error);

// Sets the thread's last error to a non-zero `error` and passes it on, so a
// failing call can report and return its code in one statement.
inline uint32_t Fail(uint32_t error) {
    if (error != 0) SetLastError(error);
    return error;
}

}  // namespace sim
