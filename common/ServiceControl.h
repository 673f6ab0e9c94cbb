// The service wrapper: one Windows service opened with full access through
// the Service Control Manager, and the three tasks the installer and the
// check build on it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Services.h"

// One per use, on the stack. The manager is opened at construction; every
// operation fails quietly when it could not be (no administrator rights).
class CServiceCtrl {
public:
    explicit CServiceCtrl(platform::IServiceManager& services);
    CServiceCtrl(const CServiceCtrl&) = delete;
    CServiceCtrl& operator=(const CServiceCtrl&) = delete;

    // False when the manager is not open or the service cannot be opened.
    bool Open(const std::wstring& name);
    bool IsOpen() const { return hService != nullptr; }
    // Marks the open service for deletion.
    bool Delete();
    bool QueryState(uint32_t& state);
    bool QueryStartType(uint32_t& startType);
    // Changes the start type and nothing else of the configuration.
    bool ChangeStartType(uint32_t startType);
    // The error of the last open, deletion or change; queries leave it.
    uint32_t GetLastErr() const { return dwLastError; }

    // "RUNNING", "STOPPED", ... or "STATE_0x<hex>" for a value Windows does
    // not define. Returned by value: a text shared by every caller could be
    // overwritten by another thread while it is read.
    static std::wstring StateName(uint32_t state);

private:
    uint32_t dwLastError = 0;
    // Declared in this order so the service closes before the manager.
    std::unique_ptr<platform::IServiceDatabase> hScm;
    std::unique_ptr<platform::IService> hService;
    std::wstring strName;
};

// The service's state name, or "OPEN_ERR_0x<hex>" / "QUERY_ERR_0x<hex>"
// with the error that stopped it.
std::wstring GetServiceStateText(platform::IServiceManager& services, const std::wstring& name);
// Deletes the service. True only when it was already marked for deletion,
// which means Windows must restart before it can be installed again.
bool DeleteServiceCheckPending(platform::IServiceManager& services, const std::wstring& name);
// True when the service was disabled and now starts automatically.
bool EnableServiceIfDisabled(platform::IServiceManager& services, const std::wstring& name);
