// Host names and text of the simulated machine, and the case folding its
// names are compared in.
#pragma once

#include <string>

#include "base/Utf8.h"

namespace sim {

// wchar_t holds UTF-32 on the Linux host, so every unit is a code point of
// its own and a surrogate unit, paired or not, is no character.
inline std::string ToUtf8(const std::wstring& text) { return base::WideToUtf8(text, base::Surrogates::Replace); }
inline std::wstring FromUtf8(const std::string& text) { return base::Utf8ToWide(text); }

// Upper-cases one character the way NTFS compares names: simple per-code
// point folding, no locale.
wchar_t FoldCase(wchar_t c);
bool EqualsNoCase(const std::wstring& a, const std::wstring& b);
// The form every name and path of the machine is keyed and compared in:
// FoldCase on each character. One folding everywhere, so that two names
// equal to the lookup are equal to every key and comparison too (U+0131
// and U+017F upper-case onto I and S but do not lower-case onto i and s).
std::wstring Fold(const std::wstring& text);
// Lower-cased text, for words that are no names (keywords, options).
std::wstring Lower(const std::wstring& text);

// Orders names as EqualsNoCase compares them, for maps whose keys keep the
// spelling they were created with but are found in any case.
struct LessNoCase {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

}  // namespace sim
