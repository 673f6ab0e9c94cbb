#include "platform/sim/Utf8.h"

#include <clocale>
#include <cwctype>

#include <locale.h>

namespace sim {

namespace {

// towupper in the default "C" locale folds ASCII only; NTFS compares names
// with a full Unicode upper-case table, which C.UTF-8 comes close to.
locale_t UnicodeLocale() {
    static const locale_t locale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return locale;
}

}  // namespace

wchar_t FoldCase(wchar_t c) {
    if (c >= L'a' && c <= L'z') return static_cast<wchar_t>(c - 32);
    if (c < 0x80) return c;
    return static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), UnicodeLocale()));
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return true;
}

bool LessNoCase::operator()(const std::wstring& a, const std::wstring& b) const {
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i) {
        const wchar_t x = FoldCase(a[i]);
        const wchar_t y = FoldCase(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

std::wstring Fold(const std::wstring& text) {
    std::wstring out(text);
    for (auto& c : out) c = FoldCase(c);
    return out;
}

std::wstring Lower(const std::wstring& text) {
    std::wstring out(text);
    for (auto& c : out) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
        else if (c >= 0x80) c = static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), UnicodeLocale()));
    }
    return out;
}

}  // namespace sim
