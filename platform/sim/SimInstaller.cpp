#include "platform/sim/SimInstaller.h"

#include "platform/Types.h"

namespace sim {

uint32_t SimInstaller::EnableLog(uint32_t logMode, const std::wstring& logFile, uint32_t attributes) {
    machine_->Modify([&](MachineState& state) {
        state.msiLog = MsiLogSetting{logFile, logMode, attributes};
        return 0;
    });
    return platform::kErrSuccess;
}

}  // namespace sim
