// IInstaller of the simulated machine. Installer sessions come later; for
// now the machine only remembers how logging was asked for.
#pragma once

#include <memory>

#include "platform/Installer.h"
#include "platform/sim/Api.h"
#include "platform/sim/Machine.h"

namespace sim {

class SIM_API SimInstaller : public platform::IInstaller {
public:
    explicit SimInstaller(std::shared_ptr<Machine> machine) : machine_(std::move(machine)) {}

    // Recorded in the state without saving: the caller decides when the
    // machine is written back.
    uint32_t EnableLog(uint32_t logMode, const std::wstring& logFile, uint32_t attributes) override;

private:
    std::shared_ptr<Machine> machine_;
};

}  // namespace sim
