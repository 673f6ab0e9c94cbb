#include "platform/win32/Win32Registry.h"

#include <vector>

#include "platform/win32/GrowingBuffer.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/WinApi.h"

namespace platform::win32 {
namespace {

HKEY RootKey(RegistryRoot root) {
    return root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

class Win32RegistryKey final : public IRegistryKey {
public:
    explicit Win32RegistryKey(HKEY key) : key_(key) {}

    uint32_t QueryString(const std::wstring& name, std::wstring& value) override {
        // Sizes are in bytes; the value answers ERROR_MORE_DATA with the
        // size it needs, which may grow again before the next call.
        DWORD type = 0;
        const auto bytes = ReadIntoGrowingBuffer<std::vector<BYTE>>(512, [&](BYTE* buffer, size_t capacity) {
            DWORD size = static_cast<DWORD>(capacity);
            const LSTATUS status = ::RegQueryValueExW(key_.Get(), name.c_str(), nullptr, &type, buffer, &size);
            if (status == ERROR_MORE_DATA) return BufferFill::NeedsSize(size + sizeof(wchar_t));
            if (status != ERROR_SUCCESS) return BufferFill::Failed(static_cast<uint32_t>(status));
            return BufferFill::Whole(size);
        });
        if (!bytes) return bytes.Error();
        if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_FILE_NOT_FOUND;
        std::wstring text(reinterpret_cast<const wchar_t*>(bytes->data()), bytes->size() / sizeof(wchar_t));
        const size_t zero = text.find(L'\0');
        if (zero != std::wstring::npos) text.resize(zero);
        value = text;
        return ERROR_SUCCESS;
    }

    uint32_t SetString(const std::wstring& name, const std::wstring& value) override {
        return static_cast<uint32_t>(::RegSetValueExW(key_.Get(), name.c_str(), 0, REG_SZ,
                                                      reinterpret_cast<const BYTE*>(value.c_str()),
                                                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
    }

    uint32_t DeleteValue(const std::wstring& name) override {
        return static_cast<uint32_t>(::RegDeleteValueW(key_.Get(), name.c_str()));
    }

private:
    RegistryKeyHandle key_;
};

}  // namespace

Result<std::unique_ptr<IRegistryKey>> Win32Registry::OpenKey(RegistryRoot root, const std::wstring& path,
                                                             uint32_t access) {
    HKEY opened = nullptr;
    const LSTATUS status = ::RegOpenKeyExW(RootKey(root), path.c_str(), 0, access, &opened);
    if (status != ERROR_SUCCESS) return Failure(static_cast<uint32_t>(status));
    return std::make_unique<Win32RegistryKey>(opened);
}

Result<std::unique_ptr<IRegistryKey>> Win32Registry::CreateKey(RegistryRoot root, const std::wstring& path,
                                                               uint32_t access) {
    HKEY opened = nullptr;
    const LSTATUS status = ::RegCreateKeyExW(RootKey(root), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             access, nullptr, &opened, nullptr);
    if (status != ERROR_SUCCESS) return Failure(static_cast<uint32_t>(status));
    return std::make_unique<Win32RegistryKey>(opened);
}

}  // namespace platform::win32
