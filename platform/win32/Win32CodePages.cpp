#include "platform/win32/Win32CodePages.h"

#include <climits>
#include <stdexcept>

namespace platform::win32 {

namespace {

// The conversion functions count in int.
int CheckedLength(size_t length) {
    if (length > static_cast<size_t>(INT_MAX)) throw std::length_error("text too long for a code page conversion");
    return static_cast<int>(length);
}

}  // namespace

// No flags and no default character: characters the code page lacks get its
// own default character (and its best-fit neighbour where Windows has one),
// exactly what any program converting with the defaults would write.
std::string NarrowFromWide(uint32_t codePage, const std::wstring& text) {
    if (text.empty()) return {};
    const int length = CheckedLength(text.size());
    const int needed = ::WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return {};
    std::string out(static_cast<size_t>(needed), '\0');
    const int written = ::WideCharToMultiByte(codePage, 0, text.data(), length, &out[0], needed, nullptr, nullptr);
    out.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return out;
}

std::wstring WideFromNarrow(uint32_t codePage, const std::string& text) {
    if (text.empty()) return {};
    const int length = CheckedLength(text.size());
    const int needed = ::MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) return {};
    std::wstring out(static_cast<size_t>(needed), L'\0');
    const int written = ::MultiByteToWideChar(codePage, 0, text.data(), length, &out[0], needed);
    out.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return out;
}

std::string Win32CodePages::FromWide(uint32_t codePage, const std::wstring& text) {
    return NarrowFromWide(codePage, text);
}

std::wstring Win32CodePages::ToWide(uint32_t codePage, const std::string& text) {
    return WideFromNarrow(codePage, text);
}

}  // namespace platform::win32
