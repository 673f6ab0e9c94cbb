#include "host/ServiceCommands.h"

#include <map>
#include <string>
#include <vector>

#include "common/ServiceControl.h"
#include "host/HostText.h"
#include "platform/Services.h"

#if !defined(_WIN32)
#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimServices.h"
#endif

namespace {

// The services the library looks after when no names are given: the
// family's own and the Windows Installer service it re-enables.
const std::vector<std::string> kDefaultServices{"iPod Service", "Apple Mobile Device Service", "Bonjour Service",
                                                "msiserver"};

const std::map<uint32_t, std::string>& StartTypeNames() {
    static const std::map<uint32_t, std::string> names{
        {platform::kServiceBootStart, "boot"},   {platform::kServiceSystemStart, "system"},
        {platform::kServiceAutoStart, "auto"},   {platform::kServiceDemandStart, "demand"},
        {platform::kServiceDisabled, "disabled"},
    };
    return names;
}

nlohmann::json StartTypeOf(const std::wstring& name) {
    CServiceCtrl service;
    uint32_t startType = 0;
    if (!service.Open(name) || !service.QueryStartType(startType)) return nullptr;
    auto it = StartTypeNames().find(startType);
    return it != StartTypeNames().end() ? it->second : std::to_string(startType);
}

int ShowServices(HostContext& host, const std::vector<std::string>& names) {
    nlohmann::json services = nlohmann::json::object();
    for (const std::string& name : names.empty() ? kDefaultServices : names) {
        const std::wstring wide = FromUtf8(name);
        services[name] = {{"state", ToUtf8(GetServiceStateText(wide))}, {"start_type", StartTypeOf(wide)}};
    }
    host.Print(nlohmann::json{{"services", services}});
    return 0;
}

}  // namespace

void AddServiceCommands(CLI::App& app, HostAction& action) {
    static std::vector<std::string> names;
    CLI::App* services = app.add_subcommand(
        "services", "state and start type of Windows services (default: the family's and msiserver)");
    services->add_option("names", names, "service names (not display names)");
    services->callback([&action] { action = [](HostContext& host) { return ShowServices(host, names); }; });
}

#if !defined(_WIN32)

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

void AddServiceMachineCommands(CLI::App& machine, HostAction& action) {
    static ServiceChoice choice;
    CLI::App* add = machine.add_subcommand("add-service", "add or replace a Windows service");
    add->add_option("name", choice.name, "service name")->required();
    add->add_option("--state", choice.state, "running or stopped")->check(CLI::IsMember({"running", "stopped"}));
    add->add_option("--start", choice.start, "auto, demand or disabled")
        ->check(CLI::IsMember({"auto", "demand", "disabled"}));
    add->add_option("--display-name", choice.displayName, "display name (default: the name)");
    add->callback([&action] { action = [](HostContext&) { return AddSimulatedService(choice); }; });
}

#endif
