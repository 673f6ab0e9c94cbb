// IMachineInfo answered from the simulated machine's state.
#pragma once

#include <memory>

#include "platform/MachineInfo.h"
#include "platform/sim/Api.h"
#include "platform/sim/store/Machine.h"

namespace sim {

class SIM_API SimMachineInfo : public platform::IMachineInfo {
public:
    explicit SimMachineInfo(std::shared_ptr<Machine> machine) : machine_(std::move(machine)) {}

    platform::OsVersion ReportedVersion() override;
    bool TrueVersion(platform::OsVersion& version) override;
    bool Is64BitWindows(bool& available) override;
    std::vector<std::wstring> LogicalDrives() override;
    platform::DriveType GetDriveType(const std::wstring& root) override;
    bool GetDiskSpace(const std::wstring& root, platform::DiskSpace& space) override;
    std::wstring SpecialFolder(int csidl) override;

private:
    std::shared_ptr<Machine> machine_;
};

}  // namespace sim
