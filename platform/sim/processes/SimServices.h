// The Service Control Manager of the simulated machine. Services live in
// the "services" section of machine.json as
//   {name, displayName, state, startType, binaryPath, pendingDelete}
// and the top-level "isAdmin" flag (true when absent) says whether the
// program runs with administrator rights. Names compare without regard to
// case. Open handles exist only in this process: a service marked for
// deletion disappears once the last of them closes and it is not running,
// or, failing that, when the manager is next opened after it has stopped.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Services.h"
#include "platform/sim/Api.h"
#include "platform/sim/store/Machine.h"
#include "platform/sim/store/MachineJson.h"

namespace sim {

struct ServiceEntry {
    std::wstring name;
    std::wstring displayName;
    uint32_t state = platform::kServiceStopped;
    uint32_t startType = platform::kServiceDemandStart;
    std::wstring binaryPath;
    bool pendingDelete = false;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(ServiceEntry, name, displayName, state, startType, binaryPath,
                                                pendingDelete)

struct Services : NamedEntries<ServiceEntry, &ServiceEntry::name> {
    static constexpr const char* kKey = "services";
};
SIM_JSON_STORED_AS(Services, entries)

struct Administrator {
    static constexpr const char* kKey = "isAdmin";
    bool isAdmin = true;
};
SIM_JSON_STORED_AS(Administrator, isAdmin)

// How many handles of this process are open on each service; shared with
// the handles, which may outlive the manager object.
class ServiceHandleCounts;

class SIM_API SimServices : public platform::IServiceManager {
public:
    explicit SimServices(std::shared_ptr<Machine> machine);

    platform::Result<std::unique_ptr<platform::IServiceDatabase>> OpenManager(uint32_t access) override;

private:
    std::shared_ptr<Machine> machine_;
    std::shared_ptr<ServiceHandleCounts> handles_;
};

// Set-up for tests and the host. AddService replaces a service of the same
// name; RemoveService takes one away at once, as if it had never been
// installed (false when there was none).
SIM_API void AddService(Machine& machine, const ServiceEntry& service);
SIM_API bool RemoveService(Machine& machine, const std::wstring& name);
SIM_API bool SetServiceState(Machine& machine, const std::wstring& name, uint32_t state);
SIM_API std::optional<ServiceEntry> FindService(const Machine& machine, const std::wstring& name);
SIM_API std::vector<ServiceEntry> ListServices(const Machine& machine);
SIM_API void SetAdministrator(Machine& machine, bool isAdmin);
SIM_API bool IsAdministrator(const Machine& machine);

}  // namespace sim
