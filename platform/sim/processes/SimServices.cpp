#include "platform/sim/processes/SimServices.h"

#include <algorithm>
#include <map>

#include "platform/Types.h"
#include "platform/sim/processes/LastError.h"
#include "platform/sim/Utf8.h"
#include "platform/sim/store/StoreAnswers.h"

namespace sim {

using platform::kErrAccessDenied;
using platform::kErrInvalidHandle;
using platform::kErrInvalidName;
using platform::kErrInvalidParameter;
using platform::kErrServiceDoesNotExist;
using platform::kErrServiceMarkedForDelete;
using platform::kErrSuccess;

// Only touched inside transactions on the services section, which the
// machine serialises: a handle closing and another opening must agree on
// whether a marked service still exists.
class ServiceHandleCounts {
public:
    void Add(const std::wstring& name) { ++open_[name]; }
    int Remove(const std::wstring& name) {
        auto it = open_.find(name);
        if (it == open_.end()) return 0;
        const int left = --it->second;
        if (left <= 0) open_.erase(it);
        return left > 0 ? left : 0;
    }
    int Count(const std::wstring& name) const {
        auto it = open_.find(name);
        return it == open_.end() ? 0 : it->second;
    }

private:
    std::map<std::wstring, int, LessNoCase> open_;
};

namespace {

// What the default security of the manager and of a service grants a
// program that runs without administrator rights: looking, not changing.
constexpr uint32_t kManagerUserRights = 0x20015;  // connect, enumerate, query lock status, read control
constexpr uint32_t kServiceUserRights = 0x2018D;  // query config and status, dependents, interrogate, user control

struct GenericMapping {
    uint32_t read, write, execute, all;
};
constexpr GenericMapping kManagerMapping{0x20014, 0x20022, 0x20009, platform::kScManagerAllAccess};
constexpr GenericMapping kServiceMapping{0x2008D, 0x20002, 0x20170, platform::kServiceAllAccess};

uint32_t MapGenericRights(uint32_t access, const GenericMapping& mapping) {
    uint32_t mapped = access & 0x0FFFFFFFu;
    if (access & platform::kGenericRead) mapped |= mapping.read;
    if (access & platform::kGenericWrite) mapped |= mapping.write;
    if (access & platform::kGenericExecute) mapped |= mapping.execute;
    if (access & platform::kGenericAll) mapped |= mapping.all;
    return mapped;
}

// The manager refuses names it could never have created.
bool ValidServiceName(const std::wstring& name) {
    return !name.empty() && name.size() <= 256 && name.find_first_of(L"\\/") == std::wstring::npos;
}

// Windows removes a marked service once nothing holds it open and it has
// stopped.
bool MayRemoveMarked(const ServiceEntry& entry, const ServiceHandleCounts& handles) {
    return entry.pendingDelete && entry.state == platform::kServiceStopped && handles.Count(entry.name) == 0;
}

class SimService final : public platform::IService {
public:
    SimService(std::shared_ptr<Machine> machine, std::shared_ptr<ServiceHandleCounts> handles, std::wstring name,
               uint32_t access)
        : machine_(std::move(machine)), handles_(std::move(handles)), name_(std::move(name)), access_(access) {}

    ~SimService() override {
        try {
            machine_->Edit<Services>([&](Services& services, bool& changed) {
                handles_->Remove(name_);
                auto it = services.Find(name_);
                if (it != services.entries.end() && MayRemoveMarked(*it, *handles_)) {
                    services.entries.erase(it);
                    changed = true;
                }
            });
        } catch (const std::exception&) {
            // machine.json could not be read or written: a marked service
            // then goes when the manager is next opened.
        }
    }

    SimService(const SimService&) = delete;
    SimService& operator=(const SimService&) = delete;

    uint32_t QueryStatus(platform::ServiceStatus& status) override {
        return WithEntry(platform::kServiceQueryStatus, [&](ServiceEntry& entry, bool&) {
            status = platform::ServiceStatus{};
            status.serviceType = platform::kServiceWin32OwnProcess;
            status.currentState = entry.state;
            status.controlsAccepted = entry.state == platform::kServiceRunning ? 1u : 0u;  // SERVICE_ACCEPT_STOP
            return static_cast<uint32_t>(kErrSuccess);
        });
    }

    uint32_t QueryConfig(platform::ServiceConfig& config) override {
        return WithEntry(platform::kServiceQueryConfig, [&](ServiceEntry& entry, bool&) {
            config = platform::ServiceConfig{};
            config.serviceType = platform::kServiceWin32OwnProcess;
            config.startType = entry.startType;
            config.errorControl = 1;  // SERVICE_ERROR_NORMAL
            config.binaryPathName = entry.binaryPath;
            config.serviceStartName = L"LocalSystem";
            config.displayName = entry.displayName.empty() ? entry.name : entry.displayName;
            return static_cast<uint32_t>(kErrSuccess);
        });
    }

    uint32_t ChangeStartType(uint32_t startType) override {
        return WithEntry(platform::kServiceChangeConfig, [&](ServiceEntry& entry, bool& changed) {
            if (entry.pendingDelete) return static_cast<uint32_t>(kErrServiceMarkedForDelete);
            if (startType == platform::kServiceNoChange) return static_cast<uint32_t>(kErrSuccess);
            // Boot and system start belong to drivers, not to programs.
            if (startType < platform::kServiceAutoStart || startType > platform::kServiceDisabled) {
                return static_cast<uint32_t>(kErrInvalidParameter);
            }
            entry.startType = startType;
            changed = true;
            return static_cast<uint32_t>(kErrSuccess);
        });
    }

    uint32_t Delete() override {
        return WithEntry(platform::kServiceDeleteAccess, [&](ServiceEntry& entry, bool& changed) {
            if (entry.pendingDelete) return static_cast<uint32_t>(kErrServiceMarkedForDelete);
            // A marked service can no longer be started by anyone.
            entry.pendingDelete = true;
            entry.startType = platform::kServiceDisabled;
            changed = true;
            return static_cast<uint32_t>(kErrSuccess);
        });
    }

private:
    // Runs `f` on this handle's service once the handle's rights allow it.
    template <typename F>
    uint32_t WithEntry(uint32_t right, F&& f) {
        if ((access_ & right) != right) return Fail(kErrAccessDenied);
        const uint32_t error = AnswerStoreFailure(kRegistryStoreFailure, [&] {
            return machine_->Edit<Services>([&](Services& services, bool& changed) {
                auto it = services.Find(name_);
                // Only set-up can take a service away under an open handle.
                if (it == services.entries.end()) return static_cast<uint32_t>(kErrInvalidHandle);
                return static_cast<uint32_t>(f(*it, changed));
            });
        });
        return Fail(error);
    }

    std::shared_ptr<Machine> machine_;
    std::shared_ptr<ServiceHandleCounts> handles_;
    const std::wstring name_;
    const uint32_t access_;
};

class SimServiceDatabase final : public platform::IServiceDatabase {
public:
    SimServiceDatabase(std::shared_ptr<Machine> machine, std::shared_ptr<ServiceHandleCounts> handles, uint32_t access)
        : machine_(std::move(machine)), handles_(std::move(handles)), access_(access) {}

    platform::Result<std::unique_ptr<platform::IService>> Open(const std::wstring& serviceName,
                                                               uint32_t access) override {
        if ((access_ & platform::kScManagerConnect) == 0) return platform::Failure(Fail(kErrAccessDenied));
        if (!ValidServiceName(serviceName)) return platform::Failure(Fail(kErrInvalidName));
        const uint32_t rights = MapGenericRights(access, kServiceMapping);
        std::wstring stored;
        const uint32_t error = AnswerStoreFailure(kRegistryStoreFailure, [&] {
            return machine_->Edit<Services>([&](Services& services, bool&) {
                auto it = services.Find(serviceName);
                if (it == services.entries.end()) return static_cast<uint32_t>(kErrServiceDoesNotExist);
                if (!IsAdministrator(*machine_) && (rights & ~kServiceUserRights) != 0) {
                    return static_cast<uint32_t>(kErrAccessDenied);
                }
                handles_->Add(it->name);
                stored = it->name;
                return static_cast<uint32_t>(kErrSuccess);
            });
        });
        if (error != kErrSuccess) return platform::Failure(Fail(error));
        return std::make_unique<SimService>(machine_, handles_, stored, rights);
    }

private:
    std::shared_ptr<Machine> machine_;
    std::shared_ptr<ServiceHandleCounts> handles_;
    const uint32_t access_;
};

}  // namespace

SimServices::SimServices(std::shared_ptr<Machine> machine)
    : machine_(std::move(machine)), handles_(std::make_shared<ServiceHandleCounts>()) {}

platform::Result<std::unique_ptr<platform::IServiceDatabase>> SimServices::OpenManager(uint32_t access) {
    const uint32_t rights = MapGenericRights(access, kManagerMapping);
    const uint32_t error = AnswerStoreFailure(kRegistryStoreFailure, [&]() -> uint32_t {
        if (!IsAdministrator(*machine_) && (rights & ~kManagerUserRights) != 0) return kErrAccessDenied;
        // Marked services whose holders went away with an earlier process, or
        // that have stopped since, are gone by the time anyone looks again.
        machine_->Edit<Services>([&](Services& services, bool& changed) {
            for (auto it = services.entries.begin(); it != services.entries.end();) {
                if (MayRemoveMarked(*it, *handles_)) {
                    it = services.entries.erase(it);
                    changed = true;
                } else {
                    ++it;
                }
            }
        });
        return kErrSuccess;
    });
    if (error != kErrSuccess) return platform::Failure(Fail(error));
    return std::make_unique<SimServiceDatabase>(machine_, handles_, rights);
}

void AddService(Machine& machine, const ServiceEntry& service) {
    machine.Edit<Services>([&](Services& services, bool& changed) {
        auto it = services.Find(service.name);
        if (it == services.entries.end())
            services.entries.push_back(service);
        else
            *it = service;
        changed = true;
    });
}

bool RemoveService(Machine& machine, const std::wstring& name) {
    return machine.Edit<Services>([&](Services& services, bool& changed) {
        changed = services.Erase(name);
        return changed;
    });
}

bool SetServiceState(Machine& machine, const std::wstring& name, uint32_t state) {
    return machine.Edit<Services>([&](Services& services, bool& changed) {
        auto it = services.Find(name);
        if (it == services.entries.end()) return false;
        it->state = state;
        changed = true;
        return true;
    });
}

std::optional<ServiceEntry> FindService(const Machine& machine, const std::wstring& name) {
    return machine.Read<Services>([&](const Services& services) -> std::optional<ServiceEntry> {
        auto it = services.Find(name);
        if (it == services.entries.end()) return std::nullopt;
        return *it;
    });
}

std::vector<ServiceEntry> ListServices(const Machine& machine) { return machine.Snapshot<Services>().entries; }

void SetAdministrator(Machine& machine, bool isAdmin) {
    machine.Edit<Administrator>([&](Administrator& flag, bool& changed) {
        changed = flag.isAdmin != isAdmin;
        flag.isAdmin = isAdmin;
    });
}

bool IsAdministrator(const Machine& machine) {
    return machine.Read<Administrator>([](const Administrator& flag) { return flag.isAdmin; });
}

}  // namespace sim
