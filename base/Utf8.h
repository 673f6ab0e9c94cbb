// UTF-8 <-> wide text without the operating system. wchar_t holds UTF-16
// on Windows and UTF-32 elsewhere; both directions follow that width.
#pragma once

#include <string>

namespace base {

// How WideToUtf8 reads surrogate units.
enum class Surrogates {
    // A high unit followed by a low one is one supplementary character, the
    // way UTF-16 text is read; an unpaired unit becomes U+FFFD.
    Pair,
    // Every surrogate unit becomes U+FFFD, paired or not: each wchar_t is
    // taken as one code point, which is what UTF-32 text means.
    Replace,
};

// Values above U+10FFFF become U+FFFD, as do surrogates the policy does
// not pair.
std::string WideToUtf8(const std::wstring& text, Surrogates surrogates);

// A lead byte that starts no sequence, or one whose sequence is cut short
// or broken, gives one U+FFFD and decoding goes on at the next byte. The
// decoder is lenient past that: overlong forms and encoded surrogates give
// the value they spell. Characters above U+FFFF become a surrogate pair
// where wchar_t is 16 bits wide.
std::wstring Utf8ToWide(const std::string& text);

}  // namespace base
