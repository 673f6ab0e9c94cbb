#include "StorePackages.h"

#include <windows.h>

#include <vector>

#include "Win32Handles.h"

namespace removepackage {

namespace {

constexpr wchar_t kRepository[] =
    L"Software\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\CurrentVersion\\AppModel\\Repository\\Packages";

// Registry key names are at most 255 characters.
constexpr size_t kLongestKeyName = 256;

using GetPackagesByPackageFamilyFn = LONG(WINAPI*)(PCWSTR familyName, UINT32* count, PWSTR* fullNames,
                                                   UINT32* bufferLength, WCHAR* buffer);

// Keeps the newest well-formed member of the family.
class NewestOfFamily {
public:
    explicit NewestOfFamily(const std::wstring& familyName) : familyName_(familyName) {}

    void Offer(const std::wstring& fullName) {
        std::optional<PackageId> id = ParsePackageFullName(fullName);
        if (!id || !InFamily(*id, familyName_)) return;
        if (!newest_ || IsNewer(*id, *newest_)) newest_ = std::move(id);
    }

    PackageLookup Result() const {
        PackageLookup lookup;
        lookup.state = newest_ ? PackageLookup::State::Installed : PackageLookup::State::NotInstalled;
        lookup.package = newest_;
        return lookup;
    }

private:
    const std::wstring familyName_;
    std::optional<PackageId> newest_;
};

GetPackagesByPackageFamilyFn PackageQuery() {
    // kernel32 is in every process and stays loaded: no reference to keep.
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) return nullptr;
    return reinterpret_cast<GetPackagesByPackageFamilyFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "GetPackagesByPackageFamily")));
}

// Nothing when the query is missing or fails; the sizes it asks for are
// given and asked again, as a package may be added between two calls.
std::optional<PackageLookup> AskPackageManager(const std::wstring& familyName) {
    const GetPackagesByPackageFamilyFn query = PackageQuery();
    if (query == nullptr) return std::nullopt;
    UINT32 count = 0;
    UINT32 length = 0;
    std::vector<PWSTR> names;
    std::vector<WCHAR> buffer;
    for (int attempt = 0; attempt < 4; ++attempt) {
        names.assign(count, nullptr);
        buffer.assign(length, L'\0');
        const LONG result = query(familyName.c_str(), &count, names.empty() ? nullptr : names.data(), &length,
                                  buffer.empty() ? nullptr : buffer.data());
        if (result == ERROR_INSUFFICIENT_BUFFER) continue;
        if (result != ERROR_SUCCESS) return std::nullopt;
        NewestOfFamily newest(familyName);
        for (UINT32 i = 0; i < count && i < names.size(); ++i) {
            if (names[i] != nullptr) newest.Offer(names[i]);
        }
        return newest.Result();
    }
    return std::nullopt;
}

std::optional<PackageLookup> ReadRepository(const std::wstring& familyName) {
    UniqueKey packages;
    // The repository lies in the user's own hive, which WOW64 does not
    // redirect; the 64-bit view is named all the same.
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kRepository, 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                        packages.Receive()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD longestName = 0;
    if (::RegQueryInfoKeyW(packages.Get(), nullptr, nullptr, nullptr, nullptr, &longestName, nullptr, nullptr,
                           nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    NewestOfFamily newest(familyName);
    std::vector<wchar_t> name(longestName + 1);
    DWORD index = 0;
    for (;;) {
        DWORD length = static_cast<DWORD>(name.size());
        const LONG result =
            ::RegEnumKeyExW(packages.Get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA && name.size() < kLongestKeyName) {
            // A longer name was added since the size was asked.
            name.resize(kLongestKeyName);
            continue;
        }
        if (result != ERROR_SUCCESS) break;  // ERROR_NO_MORE_ITEMS at the end
        newest.Offer(std::wstring(name.data(), length));
        ++index;
    }
    return newest.Result();
}

}  // namespace

PackageLookup FindPackage(const std::wstring& familyName) {
    if (std::optional<PackageLookup> answer = AskPackageManager(familyName)) return *answer;
    if (std::optional<PackageLookup> answer = ReadRepository(familyName)) return *answer;
    return PackageLookup{};
}

}  // namespace removepackage
