#include "platform/sim/files/NameMatch.h"

#include <cstdint>

#include "platform/sim/Utf8.h"

namespace sim {

namespace {

// The UTF-16 code units of a name's upper-cased characters, one at a time,
// so two names are compared without building either key.
class FoldedUnits {
public:
    explicit FoldedUnits(const std::wstring& name) : name_(name) {}
    // The next unit, or -1 after the last.
    int32_t Next() {
        if (low_ >= 0) {
            const int32_t unit = low_;
            low_ = -1;
            return unit;
        }
        if (at_ == name_.size()) return -1;
        auto c = static_cast<uint32_t>(FoldCase(name_[at_++]));
        if (c >= 0x10000 && c <= 0x10FFFF) {
            c -= 0x10000;
            low_ = static_cast<int32_t>(0xDC00 + (c & 0x3FF));
            return static_cast<int32_t>(0xD800 + (c >> 10));
        }
        return static_cast<char16_t>(c);
    }

private:
    const std::wstring& name_;
    size_t at_ = 0;
    int32_t low_ = -1;
};

}  // namespace

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

bool NtfsNameLess(const std::wstring& a, const std::wstring& b) {
    FoldedUnits x(a), y(b);
    for (;;) {
        const int32_t ux = x.Next();
        const int32_t uy = y.Next();
        if (ux != uy) return ux < uy;
        if (ux < 0) return false;
    }
}

}  // namespace sim
