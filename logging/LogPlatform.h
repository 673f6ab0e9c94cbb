// The platform the log writes through. The log is reached from every layer
// and every thread, before any engine exists and after the last is gone,
// so unlike the engines it cannot be handed one: it takes the process's.
#pragma once

#include "platform/Platform.h"

namespace logging {

platform::Platform& LogPlatform();

}  // namespace logging
