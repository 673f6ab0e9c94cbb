// brisalen machine add-service: a Windows service on the simulated machine.
#include <map>
#include <string>

#include "host/HostText.h"
#include "host/ServiceStartTypes.h"
#include "host/machine/SetupCommands.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/processes/SimServices.h"

namespace {

struct ServiceChoice {
    std::string name;
    std::string state = "running";
    std::string start = "auto";
    std::string displayName;
};

int AddSimulatedService(const ServiceChoice& choice) {
    static const std::map<std::string, uint32_t> states{{"running", platform::kServiceRunning},
                                                        {"stopped", platform::kServiceStopped}};
    sim::ServiceEntry entry;
    entry.name = FromUtf8(choice.name);
    entry.displayName = choice.displayName.empty() ? entry.name : FromUtf8(choice.displayName);
    entry.state = states.at(choice.state);
    for (const auto& [value, text] : StartTypeNames()) {
        if (text == choice.start) entry.startType = value;
    }
    sim::AddService(*sim::CurrentMachine(), entry);
    return 0;
}

}  // namespace

void AddServiceSetupCommands(CLI::App& machine, HostAction& action) {
    static ServiceChoice choice;
    choice = {};
    CLI::App* add = machine.add_subcommand("add-service", "add or replace a Windows service");
    add->add_option("name", choice.name, "service name")->required();
    add->add_option("--state", choice.state, "running or stopped")->check(CLI::IsMember({"running", "stopped"}));
    add->add_option("--start", choice.start, "auto, demand or disabled")
        ->check(CLI::IsMember({"auto", "demand", "disabled"}));
    add->add_option("--display-name", choice.displayName, "display name (default: the name)");
    add->callback([&action] { action = [](HostContext&) { return AddSimulatedService(choice); }; });
}
