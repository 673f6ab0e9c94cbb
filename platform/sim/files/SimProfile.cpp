#include "platform/sim/files/SimProfile.h"

#include <string_view>
#include <vector>

#include "platform/Types.h"
#include "platform/sim/processes/LastError.h"
#include "platform/sim/system/SimCodePages.h"
#include "platform/sim/files/SimFileSystem.h"
#include "platform/sim/Utf8.h"

namespace sim {
namespace {

enum class Encoding { Ansi, Utf8, Utf16 };

constexpr uint32_t kErrWriteFault = 29;

// Views, not strings: nothing to destroy while a worker may still write a
// profile during exit.
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16Mark = "\xFF\xFE";

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r'; }

std::wstring Trim(const std::wstring& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::wstring FromUtf16(const std::string& bytes) {
    std::wstring text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t unit = static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
            const uint32_t low = static_cast<uint8_t>(bytes[i + 2]) | (static_cast<uint8_t>(bytes[i + 3]) << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        text.push_back(static_cast<wchar_t>(unit));
    }
    return text;
}

std::string ToUtf16(const std::wstring& text) {
    std::string bytes;
    auto put = [&bytes](uint32_t unit) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    };
    for (wchar_t c : text) {
        const uint32_t point = static_cast<uint32_t>(c);
        if (point >= 0x10000) {
            put(0xD800 + ((point - 0x10000) >> 10));
            put(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            put(point);
        }
    }
    return bytes;
}

// The name between "[" and "]" when the line is a section header.
bool SectionHeader(const std::wstring& line, std::wstring& name) {
    const std::wstring trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] != L'[') return false;
    const size_t close = trimmed.find(L']');
    name = Trim(trimmed.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1));
    return true;
}

bool KeyLine(const std::wstring& line, std::wstring& key, std::wstring& value) {
    const size_t equals = line.find(L'=');
    if (equals == std::wstring::npos) return false;
    key = Trim(line.substr(0, equals));
    value = Trim(line.substr(equals + 1));
    return true;
}

// The file as lines, or nothing when it cannot be read.
struct ProfileText {
    Encoding encoding = Encoding::Ansi;
    std::vector<std::wstring> lines;
};

bool Load(SimFileSystem& files, SimCodePages& codePages, const std::wstring& path, ProfileText& profile) {
    auto file = files.Open(path, platform::OpenMode::Read);
    if (!file) return false;
    std::string bytes;
    char chunk[4096];
    for (size_t got; (got = (*file)->Read(chunk, sizeof(chunk))) > 0;) bytes.append(chunk, got);
    std::wstring text;
    if (bytes.compare(0, kUtf16Mark.size(), kUtf16Mark) == 0) {
        profile.encoding = Encoding::Utf16;
        text = FromUtf16(bytes.substr(kUtf16Mark.size()));
    } else if (bytes.compare(0, kUtf8Mark.size(), kUtf8Mark) == 0) {
        profile.encoding = Encoding::Utf8;
        text = FromUtf8(bytes.substr(kUtf8Mark.size()));
    } else {
        text = codePages.ToWide(platform::kCpAcp, bytes);
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        profile.lines.push_back(std::move(line));
        start = end + 1;
    }
    return true;
}

uint32_t Store(SimFileSystem& files, SimCodePages& codePages, const std::wstring& path, const ProfileText& profile) {
    std::wstring text;
    for (const std::wstring& line : profile.lines) text += line + L"\r\n";
    std::string bytes;
    switch (profile.encoding) {
        case Encoding::Utf16: bytes = std::string(kUtf16Mark) + ToUtf16(text); break;
        case Encoding::Utf8: bytes = std::string(kUtf8Mark) + ToUtf8(text); break;
        case Encoding::Ansi: bytes = codePages.FromWide(platform::kCpAcp, text); break;
    }
    auto file = files.Open(path, platform::OpenMode::Truncate);
    if (!file) return file.Error();
    if (!(*file)->Write(bytes.data(), bytes.size())) return Fail(kErrWriteFault);
    return platform::kErrSuccess;
}

// Windows reads the number as RtlUnicodeStringToInteger does in base 10:
// leading blanks, a sign, then digits up to the first other character.
uint32_t ParseInt(const std::wstring& value) {
    size_t i = 0;
    while (i < value.size() && value[i] <= L' ') ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == L'-' || value[i] == L'+')) negative = value[i++] == L'-';
    uint32_t number = 0;
    for (; i < value.size() && value[i] >= L'0' && value[i] <= L'9'; ++i) number = number * 10 + (value[i] - L'0');
    return negative ? 0u - number : number;
}

std::wstring Unquote(const std::wstring& value) {
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

}  // namespace

SimProfileFile::SimProfileFile(std::shared_ptr<Machine> machine, const std::wstring& path)
    : machine_(std::move(machine)), path_(path) {
    if (path_.find_first_of(L"\\/") == std::wstring::npos) {
        const std::wstring windows = machine_->Read([](const MachineState& state) {
            auto it = state.specialFolders.find(csidl::kWindows);
            return it == state.specialFolders.end() ? std::wstring(L"C:\\Windows") : it->second;
        });
        path_ = windows + L"\\" + path_;
    }
}

uint32_t SimProfileFile::GetInt(const std::wstring& section, const std::wstring& key, int32_t defaultValue) {
    SimFileSystem files(machine_);
    SimCodePages codePages(machine_);
    ProfileText profile;
    if (!Load(files, codePages, path_, profile)) return static_cast<uint32_t>(defaultValue);
    bool inSection = false;
    for (const std::wstring& line : profile.lines) {
        std::wstring name, value;
        if (SectionHeader(line, name)) {
            // The first section of that name is the one Windows reads.
            if (inSection) break;
            inSection = EqualsNoCase(name, section);
        } else if (inSection && KeyLine(line, name, value) && EqualsNoCase(name, key)) {
            value = Unquote(value);
            return value.empty() ? static_cast<uint32_t>(defaultValue) : ParseInt(value);
        }
    }
    return static_cast<uint32_t>(defaultValue);
}

uint32_t SimProfileFile::WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    SimFileSystem files(machine_);
    SimCodePages codePages(machine_);
    ProfileText profile;
    if (!Load(files, codePages, path_, profile)) profile = ProfileText{};
    // Windows never writes the trailing empty line the split leaves.
    while (!profile.lines.empty() && Trim(profile.lines.back()).empty()) profile.lines.pop_back();

    size_t header = profile.lines.size();
    for (size_t i = 0; i < profile.lines.size(); ++i) {
        std::wstring name;
        if (SectionHeader(profile.lines[i], name) && EqualsNoCase(name, section)) {
            header = i;
            break;
        }
    }
    const std::wstring entry = key + L"=" + value;
    if (header == profile.lines.size()) {
        profile.lines.push_back(L"[" + section + L"]");
        profile.lines.push_back(entry);
        return Store(files, codePages, path_, profile);
    }
    size_t lastContent = header;  // a new key goes after the section's last non-blank line
    for (size_t i = header + 1; i < profile.lines.size(); ++i) {
        std::wstring name, old;
        if (SectionHeader(profile.lines[i], name)) break;
        if (KeyLine(profile.lines[i], name, old) && EqualsNoCase(name, key)) {
            profile.lines[i] = name + L"=" + value;
            return Store(files, codePages, path_, profile);
        }
        if (!Trim(profile.lines[i]).empty()) lastContent = i;
    }
    profile.lines.insert(profile.lines.begin() + static_cast<std::ptrdiff_t>(lastContent) + 1, entry);
    return Store(files, codePages, path_, profile);
}

}  // namespace sim
