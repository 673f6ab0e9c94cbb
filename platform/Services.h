// The Service Control Manager (advapi32): the manager opened on the local
// machine's active database, services opened from it by name, their status
// and configuration read, their start type changed, and their deletion.
// Handles close when their objects go away; results are Windows error codes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Result.h"

namespace platform {

// SERVICE_STATUS_PROCESS.dwCurrentState.
enum ServiceState : uint32_t {
    kServiceStopped = 1,
    kServiceStartPending = 2,
    kServiceStopPending = 3,
    kServiceRunning = 4,
    kServiceContinuePending = 5,
    kServicePausePending = 6,
    kServicePaused = 7,
};

// QUERY_SERVICE_CONFIGW.dwStartType.
enum ServiceStartType : uint32_t {
    kServiceBootStart = 0,
    kServiceSystemStart = 1,
    kServiceAutoStart = 2,
    kServiceDemandStart = 3,
    kServiceDisabled = 4,
};

// The name winsvc.h gives a service state ("RUNNING"), or null for a
// number it does not define.
inline const char* KnownServiceStateName(uint32_t state) {
    static const char* const kNames[] = {"STOPPED",          "START_PENDING", "STOP_PENDING", "RUNNING",
                                         "CONTINUE_PENDING", "PAUSE_PENDING", "PAUSED"};
    return state >= kServiceStopped && state <= kServicePaused ? kNames[state - kServiceStopped] : nullptr;
}

// SERVICE_NO_CHANGE: leaves a setting of ChangeServiceConfigW as it is.
constexpr uint32_t kServiceNoChange = 0xFFFFFFFFu;
// SERVICE_WIN32_OWN_PROCESS.
constexpr uint32_t kServiceWin32OwnProcess = 0x10;

// Access rights of the manager and of a service (winsvc.h, winnt.h).
enum ServiceAccess : uint32_t {
    kScManagerConnect = 0x0001,
    kScManagerEnumerateService = 0x0004,
    kScManagerAllAccess = 0xF003F,
    kServiceQueryConfig = 0x0001,
    kServiceChangeConfig = 0x0002,
    kServiceQueryStatus = 0x0004,
    kServiceDeleteAccess = 0x10000,  // DELETE
    kServiceAllAccess = 0xF01FF,
    kGenericAll = 0x10000000,
    kGenericExecute = 0x20000000,
    kGenericWrite = 0x40000000,
    kGenericRead = 0x80000000,
};

// SERVICE_STATUS_PROCESS.
struct ServiceStatus {
    uint32_t serviceType = 0;
    uint32_t currentState = 0;
    uint32_t controlsAccepted = 0;
    uint32_t win32ExitCode = 0;
    uint32_t serviceSpecificExitCode = 0;
    uint32_t checkPoint = 0;
    uint32_t waitHint = 0;
    uint32_t processId = 0;
    uint32_t serviceFlags = 0;
};

// QUERY_SERVICE_CONFIGW, its strings read whole.
struct ServiceConfig {
    uint32_t serviceType = 0;
    uint32_t startType = 0;
    uint32_t errorControl = 0;
    std::wstring binaryPathName;
    std::wstring loadOrderGroup;
    uint32_t tagId = 0;
    std::vector<std::wstring> dependencies;
    std::wstring serviceStartName;
    std::wstring displayName;
};

// An open service (OpenServiceW); CloseServiceHandle when it goes away.
class IService {
public:
    virtual ~IService() = default;
    // QueryServiceStatusEx at the SC_STATUS_PROCESS_INFO level.
    virtual uint32_t QueryStatus(ServiceStatus& status) = 0;
    // QueryServiceConfigW.
    virtual uint32_t QueryConfig(ServiceConfig& config) = 0;
    // ChangeServiceConfigW with every other setting left unchanged.
    virtual uint32_t ChangeStartType(uint32_t startType) = 0;
    // DeleteService: marks the service for deletion; the manager removes it
    // once no handle to it is open and it is not running.
    virtual uint32_t Delete() = 0;
};

// An open manager database (OpenSCManagerW); closed when it goes away.
class IServiceDatabase {
public:
    virtual ~IServiceDatabase() = default;
    // OpenServiceW by service (key) name, not display name.
    virtual Result<std::unique_ptr<IService>> Open(const std::wstring& serviceName, uint32_t access) = 0;
};

class IServiceManager {
public:
    virtual ~IServiceManager() = default;
    // OpenSCManagerW on the local machine's active database.
    virtual Result<std::unique_ptr<IServiceDatabase>> OpenManager(uint32_t access) = 0;
};

}  // namespace platform
