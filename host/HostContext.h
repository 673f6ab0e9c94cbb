// What every brisalen command shares: the output form and the loaded
// library.
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
    IItunesUserDataMgr* UserDataManager();
    // One of the library's exports by its exported name (decorated for the
    // product queries); null after printing why when it is missing.
    void* Export(const char* name);

    // JSON with --json, otherwise indented "key: value" lines.
    void Print(const nlohmann::json& value) const;

private:
    bool LoadLibrary();
    std::unique_ptr<LoadedLibrary> library_;
    CreateFixItuensMgrFn createRepairManager_ = nullptr;
    CreateItunesUserDataMgrFn createUserDataManager_ = nullptr;
};

// The command chosen on the command line; returns the exit code.
using HostAction = std::function<int(HostContext&)>;

// Each command group registers its subcommands with an Add...Commands
// function; a chosen subcommand stores its action in `action`.
