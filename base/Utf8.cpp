#include "base/Utf8.h"

#include <cstdint>
#include <type_traits>

namespace base {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The unit's value; wchar_t is signed on some hosts.
char32_t Unit(wchar_t unit) { return static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(unit)); }

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendWide(std::wstring& out, uint32_t c) {
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
        if (c > 0x10FFFF) {
            out += static_cast<wchar_t>(kReplacement);
            return;
        }
        const uint32_t v = c - 0x10000;
        out += static_cast<wchar_t>(0xD800 + (v >> 10));
        out += static_cast<wchar_t>(0xDC00 + (v & 0x3FF));
        return;
    }
    out += static_cast<wchar_t>(c);
}

// The length of the sequence a lead byte starts and the value bits it
// carries; 0 for a byte that starts none.
int SequenceLength(unsigned char lead, uint32_t& bits) {
    if (lead < 0x80) {
        bits = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        bits = lead & 0x1F;
        return 2;
    }
    if ((lead & 0xF0) == 0xE0) {
        bits = lead & 0x0F;
        return 3;
    }
    if ((lead & 0xF8) == 0xF0) {
        bits = lead & 0x07;
        return 4;
    }
    return 0;
}

}  // namespace

std::string WideToUtf8(const std::wstring& text, Surrogates surrogates) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = Unit(text[i]);
        if (surrogates == Surrogates::Pair && IsHighSurrogate(c) && i + 1 < text.size() &&
            IsLowSurrogate(Unit(text[i + 1]))) {
            c = 0x10000 + ((c - 0xD800) << 10) + (Unit(text[++i]) - 0xDC00);
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c) || c > 0x10FFFF) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::wstring Utf8ToWide(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        uint32_t c = 0;
        const int length = SequenceLength(static_cast<unsigned char>(text[i]), c);
        bool whole = length > 0;
        for (int k = 1; whole && k < length; ++k) {
            if (i + k >= n) {
                whole = false;
                break;
            }
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                whole = false;
                break;
            }
            c = (c << 6) | (next & 0x3F);
        }
        if (!whole) {
            out += static_cast<wchar_t>(kReplacement);
            ++i;
            continue;
        }
        AppendWide(out, c);
        i += static_cast<size_t>(length);
    }
    return out;
}

}  // namespace base
