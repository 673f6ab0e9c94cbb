// Splitting and ASCII case, the way paths and names are compared where the
// locale must not count.
#pragma once

#include <string>
#include <vector>

namespace base {

// Pieces between delimiters, empty ones kept: "a;;b;" gives a, "", b, "".
inline std::vector<std::wstring> Split(const std::wstring& text, wchar_t delimiter) {
    std::vector<std::wstring> pieces;
    size_t start = 0;
    for (size_t cut = text.find(delimiter); cut != std::wstring::npos; cut = text.find(delimiter, start)) {
        pieces.push_back(text.substr(start, cut - start));
        start = cut + 1;
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

// Only A-Z change: the C runtime's tolower in the "C" locale.
inline wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

inline void AsciiLowerInPlace(std::wstring& text) {
    for (wchar_t& c : text) c = AsciiLower(c);
}

inline std::wstring AsciiLower(std::wstring text) {
    AsciiLowerInPlace(text);
    return text;
}

inline bool EqualsAsciiNoCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

}  // namespace base
