#include "platform/sim/WinPath.h"

#include "platform/sim/Utf8.h"

namespace sim {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Win32 drops trailing dots and spaces from every component, which is why
// "C:\Temp." opens "C:\Temp".
std::wstring TrimTrailingDotsAndSpaces(const std::wstring& part) {
    size_t end = part.size();
    while (end > 0 && (part[end - 1] == L'.' || part[end - 1] == L' ')) --end;
    return part.substr(0, end);
}

}  // namespace

bool WinPath::Parse(const std::wstring& text, WinPath& out) {
    std::wstring path = text;
    if (path.rfind(L"\\\\?\\", 0) == 0) path.erase(0, 4);
    if (path.size() < 2 || path[1] != L':') return false;
    wchar_t letter = path[0];
    if (letter >= L'a' && letter <= L'z') letter = static_cast<wchar_t>(letter - 32);
    if (letter < L'A' || letter > L'Z') return false;
    if (path.size() > 2 && !IsSeparator(path[2])) return false;

    WinPath result;
    result.drive_ = letter;
    size_t pos = 2;
    while (pos < path.size()) {
        while (pos < path.size() && IsSeparator(path[pos])) ++pos;
        size_t end = pos;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        std::wstring part = path.substr(pos, end - pos);
        pos = end;
        if (part.empty() || part == L".") continue;
        if (part == L"..") {
            if (!result.components_.empty()) result.components_.pop_back();
            continue;
        }
        part = TrimTrailingDotsAndSpaces(part);
        if (!part.empty()) result.components_.push_back(part);
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
