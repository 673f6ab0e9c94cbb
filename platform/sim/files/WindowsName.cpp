#include "platform/sim/files/WindowsName.h"

#include <cstring>

#include "platform/sim/Utf8.h"

namespace sim {

namespace {

bool IsForbidden(wchar_t c) {
    if (c < 0x20) return true;
    switch (c) {
        case L'\\':
        case L'/':
        case L':':
        case L'<':
        case L'>':
        case L'"':
        case L'|':
        case L'?':
        case L'*': return true;
        default: return false;
    }
}

}  // namespace

bool IsWindowsName(const std::wstring& name) {
    if (name.empty() || name == L"." || name == L"..") return false;
    for (wchar_t c : name) {
        if (IsForbidden(c)) return false;
    }
    return true;
}

bool IsWindowsHostName(const char* name) {
    // Nearly every name is ASCII and needs no conversion to be judged.
    bool ascii = true;
    size_t length = 0;
    for (; name[length] != '\0'; ++length) {
        const auto c = static_cast<unsigned char>(name[length]);
        if (c >= 0x80)
            ascii = false;
        else if (IsForbidden(static_cast<wchar_t>(c)))
            return false;
    }
    if (length == 0 || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    if (ascii) return true;
    const std::string bytes(name, length);
    const std::wstring wide = FromUtf8(bytes);
    return ToUtf8(wide) == bytes && IsWindowsName(wide);
}

}  // namespace sim
