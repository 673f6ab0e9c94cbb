#include "common/ServiceControl.h"

#include <fmt/printf.h>
#include <fmt/xchar.h>

#include "platform/Types.h"

CServiceCtrl::CServiceCtrl(platform::IServiceManager& services) {
    auto manager = services.OpenManager(platform::kScManagerAllAccess);
    dwLastError = manager.Error();
    if (manager) hScm = manager.Take();
}

bool CServiceCtrl::Open(const std::wstring& name) {
    if (!hScm) return false;
    hService.reset();
    auto service = hScm->Open(name, platform::kServiceAllAccess);
    dwLastError = service.Error();
    if (!service) return false;
    hService = service.Take();
    strName = name;
    return true;
}

bool CServiceCtrl::Delete() {
    if (!hService) return false;
    dwLastError = hService->Delete();
    return dwLastError == platform::kErrSuccess;
}

bool CServiceCtrl::QueryState(uint32_t& state) {
    if (!hService) return false;
    platform::ServiceStatus status;
    if (hService->QueryStatus(status) != platform::kErrSuccess) return false;
    state = status.currentState;
    return true;
}

bool CServiceCtrl::QueryStartType(uint32_t& startType) {
    if (!hService) return false;
    platform::ServiceConfig config;
    if (hService->QueryConfig(config) != platform::kErrSuccess) return false;
    startType = config.startType;
    return true;
}

bool CServiceCtrl::ChangeStartType(uint32_t startType) {
    if (!hService) return false;
    dwLastError = hService->ChangeStartType(startType);
    return dwLastError == platform::kErrSuccess;
}

std::wstring CServiceCtrl::StateName(uint32_t state) {
    const char* name = platform::KnownServiceStateName(state);
    return name != nullptr ? std::wstring(name, name + std::char_traits<char>::length(name))
                           : fmt::sprintf(L"STATE_0x%x", state);
}

std::wstring GetServiceStateText(platform::IServiceManager& services, const std::wstring& name) {
    CServiceCtrl service(services);
    if (!service.Open(name)) return fmt::sprintf(L"OPEN_ERR_0x%x", service.GetLastErr());
    uint32_t state = 0;
    // Querying records no error, so a failure here shows the open's.
    if (!service.QueryState(state)) return fmt::sprintf(L"QUERY_ERR_0x%x", service.GetLastErr());
    return CServiceCtrl::StateName(state);
}

bool DeleteServiceCheckPending(platform::IServiceManager& services, const std::wstring& name) {
    CServiceCtrl service(services);
    if (!service.Open(name)) return false;
    if (service.Delete()) return false;
    return service.GetLastErr() == platform::kErrServiceMarkedForDelete;
}

bool EnableServiceIfDisabled(platform::IServiceManager& services, const std::wstring& name) {
    CServiceCtrl service(services);
    if (!service.Open(name)) return false;
    uint32_t startType = 0;
    if (!service.QueryStartType(startType) || startType != platform::kServiceDisabled) return false;
    return service.ChangeStartType(platform::kServiceAutoStart);
}
