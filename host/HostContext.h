// What every brisalen command shares: output form, the loaded library and
// (on Linux) the simulated machine it acts on.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "host/LibraryLoader.h"
#include "include/Brisalen.h"

class HostContext {
public:
    bool json = false;
    std::string libraryPath = DefaultLibraryPath();

    // Loads the library on first use; null after printing why it failed.
    IFixItunesMgr* RepairManager();
    CreateFixItuensMgrFn RepairManagerFactory();

    // JSON with --json, otherwise indented "key: value" lines.
    void Print(const nlohmann::json& value) const;

private:
    bool LoadLibrary();
    std::unique_ptr<LoadedLibrary> library_;
    CreateFixItuensMgrFn createRepairManager_ = nullptr;
};

// The command chosen on the command line; returns the exit code.
using HostAction = std::function<int(HostContext&)>;

// Each command group registers its subcommands; a chosen subcommand stores
// its action in `action`. `machine` is the "machine" set-up command of the
// simulated machine (null on Windows).
void AddInfoCommands(CLI::App& app, HostAction& action);
void AddMachineCommands(CLI::App& machine, HostAction& action);
