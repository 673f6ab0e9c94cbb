// IInstaller of the simulated machine: packages are real .msi files read
// with libmsi; installing one lays its files, services and registry values
// out on the machine and registers the product in the "products" section of
// machine.json, uninstalling takes them away again. A test or the host can
// queue the result codes the next install or configure calls give.
#pragma once

#include <atomic>
#include <memory>

#include "platform/Installer.h"
#include "platform/sim/Api.h"
#include "platform/sim/store/Machine.h"

namespace sim {

class SIM_API SimInstaller : public platform::IInstaller {
public:
    explicit SimInstaller(std::shared_ptr<Machine> machine) : machine_(std::move(machine)) {}

    uint32_t EnableLog(uint32_t logMode, const std::wstring& logFile, uint32_t attributes) override;

    uint32_t EnumProducts(uint32_t index, std::wstring& productCode) override;
    uint32_t IsProductElevated(const std::wstring& productCode, bool& elevated) override;
    int GetComponentPath(const std::wstring& productCode, const std::wstring& componentId, std::wstring& path) override;
    uint32_t GetProductInfo(const std::wstring& productCode, const std::wstring& property,
                            std::wstring& value) override;

    platform::Result<std::unique_ptr<platform::IMsiDatabase>> OpenDatabase(const std::wstring& packagePath) override;

    uint32_t SetInternalUI(uint32_t uiLevel) override;
    uint32_t InstallProduct(const std::wstring& packagePath, const std::wstring& commandLine) override;
    uint32_t ConfigureProductEx(const std::wstring& productCode, int installLevel, int installState,
                                const std::wstring& commandLine) override;
    uint32_t ConfigureProduct(const std::wstring& productCode, int installLevel, int installState) override;

private:
    uint32_t Configure(const std::wstring& productCode, int installState, const std::wstring& commandLine);
    uint32_t Install(const std::wstring& packagePath, const std::wstring& commandLine);
    uint32_t Uninstall(const std::wstring& productCode);
    uint32_t Repair(const std::wstring& productCode, const std::wstring& commandLine);

    std::shared_ptr<Machine> machine_;
    // The index of the last MsiEnumProductsW call: the Installer takes 0 or
    // the next index only.
    std::atomic<uint32_t> lastEnumIndex_{0};
};

}  // namespace sim
