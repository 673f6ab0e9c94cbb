// A package database opened read-only through msi.dll, its views and their
// rows. Each object owns its one MSIHANDLE; msi.dll counts its own
// references, so a view or a row stays usable after its database is gone.
#pragma once

#include <memory>
#include <string>

#include "platform/win32/UniqueHandle.h"

#include "platform/Installer.h"

namespace platform::win32 {

class Win32MsiRecord final : public IMsiRecord {
public:
    explicit Win32MsiRecord(MsiHandle record) : record_(std::move(record)) {}
    std::wstring GetString(unsigned field) const override;
    int GetInteger(unsigned field) const override;

private:
    MsiHandle record_;
};

class Win32MsiView final : public IMsiView {
public:
    explicit Win32MsiView(MsiHandle view) : view_(std::move(view)) {}
    uint32_t Execute() override;
    Result<std::unique_ptr<IMsiRecord>> Fetch() override;

private:
    MsiHandle view_;
};

class Win32MsiDatabase final : public IMsiDatabase {
public:
    // The read-only database at `packagePath`.
    static Result<std::unique_ptr<IMsiDatabase>> Open(const std::wstring& packagePath);

    explicit Win32MsiDatabase(MsiHandle database) : database_(std::move(database)) {}
    Result<std::unique_ptr<IMsiView>> OpenView(const std::wstring& sql) override;

private:
    MsiHandle database_;
};

}  // namespace platform::win32
