#include "platform/win32/Win32MsiDatabase.h"

#include <msiquery.h>

#include "platform/win32/Win32MsiText.h"

namespace platform::win32 {

std::wstring Win32MsiRecord::GetString(unsigned field) const {
    std::wstring text;
    const uint32_t status = ReadMsiText(
        [&](wchar_t* buffer, DWORD* length) { return ::MsiRecordGetStringW(record_.Get(), field, buffer, length); },
        text);
    return status == ERROR_SUCCESS ? text : std::wstring();
}

int Win32MsiRecord::GetInteger(unsigned field) const {
    return ::MsiRecordGetInteger(record_.Get(), field);
}

uint32_t Win32MsiView::Execute() {
    return ::MsiViewExecute(view_.Get(), 0);
}

Result<std::unique_ptr<IMsiRecord>> Win32MsiView::Fetch() {
    MSIHANDLE fetched = 0;
    const UINT status = ::MsiViewFetch(view_.Get(), &fetched);
    MsiHandle owned(fetched);
    if (status != ERROR_SUCCESS) return Failure(status);
    return std::make_unique<Win32MsiRecord>(std::move(owned));
}

Result<std::unique_ptr<IMsiDatabase>> Win32MsiDatabase::Open(const std::wstring& packagePath) {
    MSIHANDLE opened = 0;
    const UINT status = ::MsiOpenDatabaseW(packagePath.c_str(), MSIDBOPEN_READONLY, &opened);
    MsiHandle owned(opened);
    if (status != ERROR_SUCCESS) return Failure(status);
    return std::make_unique<Win32MsiDatabase>(std::move(owned));
}

Result<std::unique_ptr<IMsiView>> Win32MsiDatabase::OpenView(const std::wstring& sql) {
    MSIHANDLE opened = 0;
    const UINT status = ::MsiDatabaseOpenViewW(database_.Get(), sql.c_str(), &opened);
    MsiHandle owned(opened);
    if (status != ERROR_SUCCESS) return Failure(status);
    return std::make_unique<Win32MsiView>(std::move(owned));
}

}  // namespace platform::win32
