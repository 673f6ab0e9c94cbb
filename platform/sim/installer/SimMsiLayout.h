// Puts an install plan on the machine through the machine's own file system
// and service manager, so installs meet the same sharing and read-only
// rules as everything else, and takes a recorded layout away again.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/sim/store/Machine.h"
#include "platform/sim/installer/SimMsiPlan.h"
#include "platform/sim/installer/SimProducts.h"

namespace sim {

class PackageLayout {
public:
    explicit PackageLayout(std::shared_ptr<Machine> machine) : machine_(std::move(machine)) {}

    // Creates the plan's folders, files (FileSize bytes each), services and
    // registry values, adding what it created to `created`. A file held by
    // a process is left as it is and sets `restartNeeded`, as the Installer
    // replaces such files at the next boot. 1603 when a file or folder
    // cannot be made; what was created so far is then in `created`.
    uint32_t LayOut(const InstallPlan& plan, ProductLayout& created, bool& restartNeeded);

    // Removes a recorded layout: files (those held stay and set
    // `restartNeeded`), folders that are empty by then, services and
    // registry values.
    void TakeDown(const ProductLayout& layout, bool& restartNeeded);

    // Creates `folder` and any missing parents, recording each folder of
    // the path: the Installer takes away every folder of a product's tree
    // that its uninstall leaves empty, whoever created it.
    bool CreateFolders(const std::wstring& folder, ProductLayout& created);

private:
    bool WriteFile(const PlannedFile& file, bool& restartNeeded);

    std::shared_ptr<Machine> machine_;
};

}  // namespace sim
