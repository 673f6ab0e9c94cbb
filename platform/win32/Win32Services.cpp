#include "platform/win32/Win32Services.h"

#include <vector>

#include "platform/win32/GrowingBuffer.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/WinError.h"

namespace platform::win32 {
namespace {

std::wstring TextOrEmpty(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(); }

// A double-zero-terminated list, as lpDependencies holds it.
std::vector<std::wstring> SplitMultiString(const wchar_t* list) {
    std::vector<std::wstring> items;
    if (!list) return items;
    while (*list) {
        items.emplace_back(list);
        list += items.back().size() + 1;
    }
    return items;
}

class Win32Service final : public IService {
public:
    explicit Win32Service(SC_HANDLE service) : service_(service) {}

    uint32_t QueryStatus(ServiceStatus& status) override {
        SERVICE_STATUS_PROCESS raw{};
        DWORD needed = 0;
        if (!::QueryServiceStatusEx(service_.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&raw),
                                    sizeof(raw), &needed)) {
            return ::GetLastError();
        }
        status.serviceType = raw.dwServiceType;
        status.currentState = raw.dwCurrentState;
        status.controlsAccepted = raw.dwControlsAccepted;
        status.win32ExitCode = raw.dwWin32ExitCode;
        status.serviceSpecificExitCode = raw.dwServiceSpecificExitCode;
        status.checkPoint = raw.dwCheckPoint;
        status.waitHint = raw.dwWaitHint;
        status.processId = raw.dwProcessId;
        status.serviceFlags = raw.dwServiceFlags;
        return ERROR_SUCCESS;
    }

    uint32_t QueryConfig(ServiceConfig& config) override {
        // The strings follow the record in the same buffer; their total
        // size is only known by asking, and may grow between two asks. The
        // buffer is counted in 8-byte words, aligned for the record's
        // pointers; the first ask has none.
        const auto buffer = ReadIntoGrowingBuffer<std::vector<uint64_t>>(0, [&](uint64_t* words, size_t count) {
            auto* record = count == 0 ? nullptr : reinterpret_cast<QUERY_SERVICE_CONFIGW*>(words);
            const DWORD size = static_cast<DWORD>(count * sizeof(uint64_t));
            DWORD needed = 0;
            if (::QueryServiceConfigW(service_.Get(), record, size, &needed)) return BufferFill::Whole(count);
            const DWORD error = ::GetLastError();
            if (error != ERROR_INSUFFICIENT_BUFFER || needed <= size) return BufferFill::Failed(error);
            return BufferFill::NeedsSize((needed + sizeof(uint64_t) - 1) / sizeof(uint64_t));
        });
        if (!buffer) return buffer.Error();
        const auto* raw = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer->data());
        config.serviceType = raw->dwServiceType;
        config.startType = raw->dwStartType;
        config.errorControl = raw->dwErrorControl;
        config.binaryPathName = TextOrEmpty(raw->lpBinaryPathName);
        config.loadOrderGroup = TextOrEmpty(raw->lpLoadOrderGroup);
        config.tagId = raw->dwTagId;
        config.dependencies = SplitMultiString(raw->lpDependencies);
        config.serviceStartName = TextOrEmpty(raw->lpServiceStartName);
        config.displayName = TextOrEmpty(raw->lpDisplayName);
        return ERROR_SUCCESS;
    }

    uint32_t ChangeStartType(uint32_t startType) override {
        return ErrorUnless(::ChangeServiceConfigW(service_.Get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    }

    uint32_t Delete() override { return ErrorUnless(::DeleteService(service_.Get())); }

private:
    ServiceHandle service_;
};

class Win32ServiceDatabase final : public IServiceDatabase {
public:
    explicit Win32ServiceDatabase(SC_HANDLE manager) : manager_(manager) {}

    Result<std::unique_ptr<IService>> Open(const std::wstring& serviceName, uint32_t access) override {
        const SC_HANDLE handle = ::OpenServiceW(manager_.Get(), serviceName.c_str(), access);
        if (!handle) return LastErrorFailure();
        return std::make_unique<Win32Service>(handle);
    }

private:
    ServiceHandle manager_;
};

}  // namespace

Result<std::unique_ptr<IServiceDatabase>> Win32Services::OpenManager(uint32_t access) {
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, access);
    if (!manager) return LastErrorFailure();
    return std::make_unique<Win32ServiceDatabase>(manager);
}

}  // namespace platform::win32
