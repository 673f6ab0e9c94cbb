#include "logging/LogPlatform.h"

namespace logging {

platform::Platform& LogPlatform() { return platform::Os(); }

}  // namespace logging
