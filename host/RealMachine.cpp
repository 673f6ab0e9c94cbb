// On Windows the host acts on the machine it runs on.
#include "host/HostMachine.h"

void AddMachineCommands(CLI::App&, HostAction&) {}

int RunOnMachine(HostContext& host, const HostAction& action) { return action(host); }
