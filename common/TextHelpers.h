// Formatting, code-page conversion, splitting and number parsing with the
// edge behaviour the rest of the library compares results by.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/CodePages.h"

#include <fmt/printf.h>
#include <fmt/xchar.h>

// printf-style formatting through fmt, so wide and narrow arguments alike
// are type-checked and results of any length come out whole. A null format,
// or one the arguments do not fit, gives an empty string.
std::wstring VFormatString(const wchar_t* format, fmt::wprintf_args args);

template <typename... Args>
std::wstring FormatString(const wchar_t* format, const Args&... args) {
    return VFormatString(format, fmt::make_wprintf_args(args...));
}

// Pieces between delimiters, empty ones kept: "a;;b;" gives a, "", b, "".
std::vector<std::wstring> SplitString(const std::wstring& text, wchar_t delimiter);

// The machine's ANSI code page to UTF-16.
std::wstring AnsiToWide(platform::ICodePages& codePages, const std::string& text);
// UTF-16 to the OEM code page; characters it lacks become its default
// character.
std::string WideToNarrow(platform::ICodePages& codePages, const std::wstring& text);

// The C runtime's tolower on each UTF-16 unit: only ASCII letters change,
// which is how the library compares paths.
void AsciiLowerInPlace(std::wstring& text);
std::wstring AsciiLower(std::wstring text);
// Through the machine's CP_UTF8 conversion, not base::Utf8ToWide: Windows
// answers overlong forms and encoded surrogates with U+FFFD, where the
// OS-free decoder gives the value they spell.
std::wstring Utf8ToWide(platform::ICodePages& codePages, const std::string& text);

// 0-15 for a hexadecimal digit of either case, -1 for anything else.
int32_t HexDigitValue(char c);
// Turns each "%XY" into the byte 0xXY. A "%" not followed by two
// hexadecimal digits is kept as it stands.
std::string UrlDecode(const std::string& text);

// True when the text is not empty and holds only the digits 0-9.
bool IsAllDigits(const std::wstring& text);
// The value of an all-digit text (saturating at INT32_MAX); 0 for anything
// else, signs included.
int32_t StringToInt(const std::wstring& text);
