#include "platform/sim/WinPath.h"

#include "platform/sim/Utf8.h"

namespace sim {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Win32 drops trailing dots and spaces from every component, which is why
// "C:\Temp." opens "C:\Temp".
size_t TrimmedLength(const std::wstring& text, size_t begin, size_t end) {
    while (end > begin && (text[end - 1] == L'.' || text[end - 1] == L' ')) --end;
    return end - begin;
}

}  // namespace

bool WinPath::Parse(const std::wstring& text, WinPath& out) {
    // Every file call parses its path, so the text is read in place rather
    // than copied part by part.
    const size_t begin = text.rfind(L"\\\\?\\", 0) == 0 ? 4 : 0;
    const size_t size = text.size();
    if (size - begin < 2 || text[begin + 1] != L':') return false;
    wchar_t letter = text[begin];
    if (letter >= L'a' && letter <= L'z') letter = static_cast<wchar_t>(letter - 32);
    if (letter < L'A' || letter > L'Z') return false;
    if (size - begin > 2 && !IsSeparator(text[begin + 2])) return false;

    WinPath result;
    result.drive_ = letter;
    size_t pos = begin + 2;
    while (pos < size) {
        while (pos < size && IsSeparator(text[pos])) ++pos;
        size_t end = pos;
        while (end < size && !IsSeparator(text[end])) ++end;
        const size_t length = end - pos;
        const size_t at = pos;
        pos = end;
        if (length == 0 || (length == 1 && text[at] == L'.')) continue;
        if (length == 2 && text[at] == L'.' && text[at + 1] == L'.') {
            if (!result.components_.empty()) result.components_.pop_back();
            continue;
        }
        const size_t kept = TrimmedLength(text, at, end);
        if (kept > 0) result.components_.emplace_back(text, at, kept);
    }
    out = std::move(result);
    return true;
}

std::wstring WinPath::ToString() const {
    std::wstring text;
    text += drive_;
    text += L":\\";
    for (size_t i = 0; i < components_.size(); ++i) {
        if (i > 0) text += L'\\';
        text += components_[i];
    }
    return text;
}

std::wstring WinPath::Key() const { return Lower(ToString()); }

WinPath WinPath::Parent() const {
    WinPath parent = *this;
    if (!parent.components_.empty()) parent.components_.pop_back();
    return parent;
}

}  // namespace sim
