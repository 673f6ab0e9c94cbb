// The Linux back end of the OS seam: one simulated machine seen through the
// seam's interfaces, and the process-wide choice of which machine that is.
#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/sim/Api.h"
#include "platform/sim/store/Machine.h"
#include "platform/sim/system/SimCodePages.h"
#include "platform/sim/files/SimFileSystem.h"
#include "platform/sim/installer/SimInstaller.h"
#include "platform/sim/processes/SimLibraries.h"
#include "platform/sim/system/SimMachineInfo.h"
#include "platform/sim/processes/SimProcessEnv.h"
#include "platform/sim/processes/SimProcesses.h"
#include "platform/sim/registry/SimRegistry.h"
#include "platform/sim/processes/SimServices.h"

namespace sim {

class SIM_API SimPlatform : public platform::Platform {
public:
    explicit SimPlatform(std::shared_ptr<sim::Machine> machine);

    platform::IFileSystem& Files() override { return files_; }
    platform::IMachineInfo& Machine() override { return info_; }
    platform::IProcessEnv& Process() override { return process_; }
    platform::IProcesses& Processes() override { return processes_; }
    platform::ICodePages& CodePages() override { return codePages_; }
    platform::IInstaller& Installer() override { return installer_; }
    platform::ILibraries& Libraries() override { return libraries_; }
    platform::IRegistry& Registry() override { return registry_; }
    platform::IServiceManager& Services() override { return services_; }

    const std::shared_ptr<sim::Machine>& SimulatedMachine() const { return machine_; }

private:
    std::shared_ptr<sim::Machine> machine_;
    SimFileSystem files_;
    SimMachineInfo info_;
    SimProcessEnv process_;
    SimProcesses processes_;
    SimCodePages codePages_;
    SimInstaller installer_;
    SimLibraries libraries_;
    SimRegistry registry_;
    SimServices services_;
};

// Makes `machine` the one platform::Os() acts on. Null forgets the current
// machine so the next Os() opens the default one again. References taken
// from Os() before the switch stay valid until the process ends.
SIM_API void UseMachine(std::shared_ptr<Machine> machine);
// The machine Os() acts on, opening the default one if none was chosen.
SIM_API std::shared_ptr<Machine> CurrentMachine();
// $BRISALEN_MACHINE, else $HOME/.local/share/brisalen/machine.
SIM_API std::string DefaultMachineFolder();

}  // namespace sim
