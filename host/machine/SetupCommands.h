// brisalen machine ...: the set-up commands of the simulated Windows
// machine, which only the Linux host has. Each group adds its subcommands
// to the `machine` command.
#pragma once

#include <CLI/CLI.hpp>

#include "host/HostContext.h"

// set-os, add-drive, set-itunes
void AddSystemSetupCommands(CLI::App& machine, HostAction& action);
// add-service
void AddServiceSetupCommands(CLI::App& machine, HostAction& action);
// add-process
void AddProcessSetupCommands(CLI::App& machine, HostAction& action);
// install, install-family, uninstall, queue-msi-results: packages go on
// the machine the way msiexec would put them there, through the same
// Windows Installer seam the library uses.
void AddInstallerSetupCommands(CLI::App& machine, HostAction& action);
// set-store, set-companion: the Store edition of iTunes and the behaviour
// of the RemovePackage.dll stand-in that finds and removes it.
void AddStoreSetupCommands(CLI::App& machine, HostAction& action);
// seed-user-data: a used profile of the media player and its companions,
// with the results a scan of it must give. The one set-up command that the
// Windows host has too, where it acts on the machine it runs on.
void AddUserDataSeedCommands(CLI::App& machine, HostAction& action);
// set-itl-companion: the behaviour of the ITunesLibrary.dll stand-in.
void AddItunesLibrarySetupCommands(CLI::App& machine, HostAction& action);
