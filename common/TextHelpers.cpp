#include "common/TextHelpers.h"

#include <limits>
#include <utility>

#include "base/Text.h"

std::wstring VFormatString(const wchar_t* format, fmt::wprintf_args args) {
    if (format == nullptr) return {};
    try {
        return fmt::vsprintf(fmt::wstring_view(format), args);
    } catch (...) {
        return {};
    }
}

std::vector<std::wstring> SplitString(const std::wstring& text, wchar_t delimiter) {
    return base::Split(text, delimiter);
}

std::wstring AnsiToWide(platform::ICodePages& codePages, const std::string& text) {
    return codePages.ToWide(platform::kCpAcp, text);
}

std::string WideToNarrow(platform::ICodePages& codePages, const std::wstring& text) {
    return codePages.FromWide(platform::kCpOemCp, text);
}

std::wstring Utf8ToWide(platform::ICodePages& codePages, const std::string& text) {
    return codePages.ToWide(platform::kCpUtf8, text);
}

int32_t HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string UrlDecode(const std::string& text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int32_t high = HexDigitValue(text[i + 1]);
            const int32_t low = HexDigitValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                decoded.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        decoded.push_back(text[i]);
    }
    return decoded;
}

bool IsAllDigits(const std::wstring& text) {
    if (text.empty()) return false;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
    }
    return true;
}

int32_t StringToInt(const std::wstring& text) {
    if (!IsAllDigits(text)) return 0;
    int64_t value = 0;
    for (const wchar_t c : text) {
        value = value * 10 + (c - L'0');
        if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(value);
}

void AsciiLowerInPlace(std::wstring& text) { base::AsciiLowerInPlace(text); }

std::wstring AsciiLower(std::wstring text) { return base::AsciiLower(std::move(text)); }
