#include "platform/sim/NameMatch.h"

#include "platform/sim/Utf8.h"

namespace sim {

std::u16string NtfsSortKey(const std::wstring& name) {
    std::u16string key;
    key.reserve(name.size());
    for (wchar_t wc : name) {
        auto c = static_cast<uint32_t>(FoldCase(wc));
        if (c >= 0x10000 && c <= 0x10FFFF) {
            c -= 0x10000;
            key += static_cast<char16_t>(0xD800 + (c >> 10));
            key += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            key += static_cast<char16_t>(c);
        }
    }
    return key;
}

bool MatchesWildcard(const std::wstring& pattern, const std::wstring& name) {
    const std::wstring p = pattern == L"*.*" ? L"*" : pattern;
    size_t pi = 0, ni = 0;
    size_t starP = std::wstring::npos, starN = 0;
    while (ni < name.size()) {
        if (pi < p.size() && p[pi] == L'*') {
            starP = pi++;
            starN = ni;
        } else if (pi < p.size() && (p[pi] == L'?' || FoldCase(p[pi]) == FoldCase(name[ni]))) {
            ++pi;
            ++ni;
        } else if (starP != std::wstring::npos) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == L'*') ++pi;
    return pi == p.size();
}

bool NtfsNameLess(const std::wstring& a, const std::wstring& b) { return NtfsSortKey(a) < NtfsSortKey(b); }

}  // namespace sim
