#include "host/ServiceCommands.h"

#include <string>
#include <vector>

#include "host/HostText.h"
#include "host/ServiceStartTypes.h"
#include "host/inprocess/ProductQueries.h"

namespace {

// The services the library looks after when no names are given: the
// family's own and the Windows Installer service it re-enables.
const std::vector<std::string> kDefaultServices{"iPod Service", "Apple Mobile Device Service", "Bonjour Service",
                                                "msiserver"};

nlohmann::json StartTypeText(const inprocess::ServiceStatus& status) {
    if (!status.startTypeKnown) return nullptr;
    auto it = StartTypeNames().find(status.startType);
    return it != StartTypeNames().end() ? it->second : std::to_string(status.startType);
}

int ShowServices(HostContext& host, const std::vector<std::string>& names) {
    nlohmann::json services = nlohmann::json::object();
    for (const std::string& name : names.empty() ? kDefaultServices : names) {
        const inprocess::ServiceStatus status = inprocess::QueryService(FromUtf8(name));
        services[name] = {{"state", ToUtf8(status.state)}, {"start_type", StartTypeText(status)}};
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
