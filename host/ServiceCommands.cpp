#include "host/ServiceCommands.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host/HostText.h"
#include "host/ServiceStartTypes.h"
#include "platform/Platform.h"

namespace {

// The services the library looks after when no names are given: the
// family's own and the Windows Installer service it re-enables.
const std::vector<std::string> kDefaultServices{"iPod Service", "Apple Mobile Device Service", "Bonjour Service",
                                                "msiserver"};

std::string HexText(const char* prefix, uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "%x", value);
    return prefix + std::string(text);
}

std::string StateText(uint32_t state) {
    const char* name = platform::KnownServiceStateName(state);
    return name != nullptr ? name : HexText("STATE_0x", state);
}

// State and start type as the Service Control Manager answers an ordinary
// query: "OPEN_ERR_0x424" when there is no such service, as the library
// writes it in its log.
nlohmann::json DescribeService(platform::IServiceDatabase* database, uint32_t managerError, const std::string& name) {
    if (database == nullptr) return {{"state", HexText("OPEN_ERR_0x", managerError)}, {"start_type", nullptr}};
    auto service = database->Open(FromUtf8(name), platform::kServiceQueryStatus | platform::kServiceQueryConfig);
    if (!service) return {{"state", HexText("OPEN_ERR_0x", service.Error())}, {"start_type", nullptr}};
    platform::ServiceStatus status;
    const uint32_t statusError = (*service)->QueryStatus(status);
    nlohmann::json startType = nullptr;
    platform::ServiceConfig config;
    if ((*service)->QueryConfig(config) == platform::kErrSuccess) {
        auto it = StartTypeNames().find(config.startType);
        startType = it != StartTypeNames().end() ? it->second : std::to_string(config.startType);
    }
    return {{"state", statusError == platform::kErrSuccess ? StateText(status.currentState)
                                                           : HexText("QUERY_ERR_0x", statusError)},
            {"start_type", startType}};
}

int ShowServices(HostContext& host, const std::vector<std::string>& names) {
    auto manager = platform::Os().Services().OpenManager(platform::kScManagerConnect);
    const uint32_t managerError = manager.Error();
    std::unique_ptr<platform::IServiceDatabase> database;
    if (manager) database = manager.Take();
    nlohmann::json services = nlohmann::json::object();
    for (const std::string& name : names.empty() ? kDefaultServices : names) {
        services[name] = DescribeService(database.get(), managerError, name);
    }
    host.Print(nlohmann::json{{"services", services}});
    return 0;
}

}  // namespace

void AddServiceCommands(CLI::App& app, HostAction& action) {
    static std::vector<std::string> names;
    names = {};
    CLI::App* services = app.add_subcommand(
        "services", "state and start type of Windows services (default: the family's and msiserver)");
    services->add_option("names", names, "service names (not display names)");
    services->callback([&action] { action = [](HostContext& host) { return ShowServices(host, names); }; });
}
