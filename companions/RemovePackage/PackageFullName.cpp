#include "PackageFullName.h"

#include <vector>

#include "base/Text.h"

namespace removepackage {

namespace {

// Limits of the package manifest: a name of 3 to 50 characters, a
// publisher id of 13 base-32 characters.
constexpr size_t kMinName = 3;
constexpr size_t kMaxName = 50;
constexpr size_t kMaxResourceId = 30;
constexpr size_t kPublisherIdLength = 13;

bool IsAsciiAlnum(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
}

// Names and resource ids: letters, digits, '.' and '-'.
bool IsNameText(const std::wstring& text) {
    for (wchar_t c : text) {
        if (!IsAsciiAlnum(c) && c != L'.' && c != L'-') return false;
    }
    return true;
}

// Four decimal parts of 0 to 65535 each.
bool ParseVersion(const std::wstring& text, std::array<uint16_t, 4>& parts) {
    const std::vector<std::wstring> fields = base::Split(text, L'.');
    if (fields.size() != parts.size()) return false;
    for (size_t i = 0; i < fields.size(); ++i) {
        const std::wstring& field = fields[i];
        if (field.empty() || field.size() > 5) return false;
        uint32_t value = 0;
        for (wchar_t c : field) {
            if (c < L'0' || c > L'9') return false;
            value = value * 10 + static_cast<uint32_t>(c - L'0');
        }
        if (value > 0xFFFF) return false;
        parts[i] = static_cast<uint16_t>(value);
    }
    return true;
}

bool IsArchitecture(const std::wstring& text) {
    for (const wchar_t* known : {L"x86", L"x64", L"arm", L"arm64", L"neutral", L"x86a64"}) {
        if (base::EqualsAsciiNoCase(text, known)) return true;
    }
    return false;
}

// Base 32 as package identities write it: digits and the letters but
// i, l, o and u.
bool IsPublisherId(const std::wstring& text) {
    if (text.size() != kPublisherIdLength) return false;
    for (wchar_t c : text) {
        const wchar_t lower = base::AsciiLower(c);
        const bool digit = lower >= L'0' && lower <= L'9';
        const bool letter = lower >= L'a' && lower <= L'z' && lower != L'i' && lower != L'l' && lower != L'o' &&
                            lower != L'u';
        if (!digit && !letter) return false;
    }
    return true;
}

}  // namespace

std::optional<PackageId> ParsePackageFullName(const std::wstring& fullName) {
    const std::vector<std::wstring> fields = base::Split(fullName, L'_');
    if (fields.size() != 5) return std::nullopt;
    PackageId id;
    id.fullName = fullName;
    id.name = fields[0];
    id.version = fields[1];
    id.architecture = fields[2];
    id.resourceId = fields[3];
    id.publisherId = fields[4];
    if (id.name.size() < kMinName || id.name.size() > kMaxName || !IsNameText(id.name)) return std::nullopt;
    if (!ParseVersion(id.version, id.versionParts)) return std::nullopt;
    if (!IsArchitecture(id.architecture)) return std::nullopt;
    if (id.resourceId.size() > kMaxResourceId || !IsNameText(id.resourceId)) return std::nullopt;
    if (!IsPublisherId(id.publisherId)) return std::nullopt;
    return id;
}

bool InFamily(const PackageId& package, const std::wstring& familyName) {
    return base::EqualsAsciiNoCase(package.name + L"_" + package.publisherId, familyName);
}

bool IsNewer(const PackageId& a, const PackageId& b) { return a.versionParts > b.versionParts; }

}  // namespace removepackage
