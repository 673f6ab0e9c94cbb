#include "platform/sim/files/WinPath.h"

#include "platform/sim/Utf8.h"

namespace sim {

namespace {

constexpr wchar_t kLiteralPrefix[] = L"\\\\?\\";

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Win32 drops trailing dots and spaces from a name, which is why
// "C:\Temp." opens "C:\Temp", but leaves a name before the last one alone
// when it ends in a blank: "C:\a \x" and "C:\a. \x" keep "a " and "a. ".
size_t TrimmedLength(const std::wstring& text, size_t begin, size_t end) {
    while (end > begin && (text[end - 1] == L'.' || text[end - 1] == L' ')) --end;
    return end - begin;
}

size_t TrimmedInnerLength(const std::wstring& text, size_t begin, size_t end) {
    return end > begin && text[end - 1] == L' ' && TrimmedLength(text, begin, end) > 0
               ? end - begin
               : TrimmedLength(text, begin, end);
}

}  // namespace

bool WinPath::Parse(const std::wstring& text, WinPath& out) {
    // Every file call parses its path, so the text is read in place rather
    // than copied part by part.
    const bool literal = text.rfind(kLiteralPrefix, 0) == 0;
    const size_t begin = literal ? 4 : 0;
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
        if (length == 0) continue;
        const bool dot = length == 1 && text[at] == L'.';
        const bool dotDot = length == 2 && text[at] == L'.' && text[at + 1] == L'.';
        if (literal) {
            // The "\\?\" form hands names to the file system as they are;
            // "." and ".." are no names there.
            if (dot || dotDot) return false;
            result.components_.emplace_back(text, at, length);
            continue;
        }
        if (dot) continue;
        if (dotDot) {
            if (!result.components_.empty()) result.components_.pop_back();
            continue;
        }
        const bool last = text.find_first_not_of(L"\\/", end) == std::wstring::npos;
        const size_t kept = last ? TrimmedLength(text, at, end) : TrimmedInnerLength(text, at, end);
        if (kept > 0) result.components_.emplace_back(text, at, kept);
    }
    out = std::move(result);
    return true;
}

bool WinPath::ChangedByWin32(const std::wstring& name) { return TrimmedLength(name, 0, name.size()) != name.size(); }

std::wstring WinPath::ToString() const {
    std::wstring text;
    for (size_t i = 0; i < components_.size(); ++i) {
        const std::wstring& name = components_[i];
        const bool changed = i + 1 == components_.size() ? ChangedByWin32(name)
                                                         : TrimmedInnerLength(name, 0, name.size()) != name.size();
        if (changed) {
            text = kLiteralPrefix;
            break;
        }
    }
    text += drive_;
    text += L":\\";
    for (size_t i = 0; i < components_.size(); ++i) {
        if (i > 0) text += L'\\';
        text += components_[i];
    }
    return text;
}

std::wstring WinPath::Key() const { return Fold(ToString()); }

WinPath WinPath::Child(const std::wstring& name) const {
    WinPath child = *this;
    child.components_.push_back(name);
    return child;
}

WinPath WinPath::Parent() const {
    WinPath parent = *this;
    if (!parent.components_.empty()) parent.components_.pop_back();
    return parent;
}

}  // namespace sim
