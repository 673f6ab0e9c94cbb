#include "platform/sim/system/SimCodePages.h"

#include <algorithm>
#include <cerrno>

#include "platform/sim/system/IconvCache.h"
#include "platform/sim/processes/LastError.h"
#include "platform/sim/Utf8.h"

namespace sim {

namespace {

const iconv_t kInvalid = reinterpret_cast<iconv_t>(-1);
constexpr uint32_t kCpMac = 2;
constexpr uint32_t kCpThreadAcp = 3;

std::string IconvName(uint32_t codePage) {
    switch (codePage) {
        case 1200: return "UTF-16LE";
        case 1201: return "UTF-16BE";
        case 10000: return "MACINTOSH";
        case 20127: return "ASCII";
        default: break;
    }
    if (codePage >= 28591 && codePage <= 28599) return "ISO-8859-" + std::to_string(codePage - 28590);
    return "CP" + std::to_string(codePage);
}

// What MultiByteToWideChar yields for a byte the code page leaves
// undefined: the Windows-125x tables pass it through as the C1 control of
// the same value, the others give their default character.
wchar_t UndefinedByte(uint32_t codePage, unsigned char byte) {
    return codePage >= 1250 && codePage <= 1258 ? static_cast<wchar_t>(byte) : L'?';
}

// Runs `cd` over the whole input. On input iconv cannot take, `onBad` gets
// the offending position and returns how many input units to skip after
// appending its replacement.
template <typename Out, typename OnBad>
bool Convert(iconv_t cd, const char* data, size_t bytes, size_t unit, Out& out, OnBad onBad) {
    using Char = typename Out::value_type;
    char* in = const_cast<char*>(data);
    size_t inLeft = bytes;
    Char buffer[1024];
    for (;;) {
        char* outPtr = reinterpret_cast<char*>(buffer);
        size_t outLeft = sizeof(buffer);
        if (inLeft == 0) {
            // Lets a stateful encoding return to its initial shift state.
            iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
            out.append(buffer, (sizeof(buffer) - outLeft) / sizeof(Char));
            return true;
        }
        const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, (sizeof(buffer) - outLeft) / sizeof(Char));
        if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
        if (errno != EILSEQ && errno != EINVAL) return false;
        const size_t skip = std::min(inLeft, onBad(in) * unit);
        in += skip;
        inLeft -= skip;
    }
}

}  // namespace

uint32_t SimCodePages::Effective(uint32_t codePage) const {
    switch (codePage) {
        case platform::kCpAcp:
        case kCpThreadAcp: return machine_->Read([](const MachineState& s) { return s.codePages.ansi; });
        case platform::kCpOemCp: return machine_->Read([](const MachineState& s) { return s.codePages.oem; });
        case kCpMac: return 10000;
        default: return codePage;
    }
}

std::string SimCodePages::FromWide(uint32_t codePage, const std::wstring& text) {
    const uint32_t page = Effective(codePage);
    if (page == platform::kCpUtf8) return ToUtf8(text);
    if (text.empty()) return {};
    const iconv_t cd = ThreadIconv(IconvName(page), "WCHAR_T");
    if (cd == kInvalid) {
        Fail(platform::kErrInvalidParameter);
        return {};
    }
    std::string out;
    // A character the page cannot hold becomes its default character.
    auto unmappable = [&out](const char*) {
        out += '?';
        return size_t{1};
    };
    if (!Convert(cd, reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t), sizeof(wchar_t), out,
                 unmappable)) {
        Fail(platform::kErrInvalidParameter);
        return {};
    }
    return out;
}

std::wstring SimCodePages::ToWide(uint32_t codePage, const std::string& text) {
    const uint32_t page = Effective(codePage);
    if (page == platform::kCpUtf8) return FromUtf8(text);
    if (text.empty()) return {};
    const iconv_t cd = ThreadIconv("WCHAR_T", IconvName(page));
    if (cd == kInvalid) {
        Fail(platform::kErrInvalidParameter);
        return {};
    }
    std::wstring out;
    auto undefined = [&out, page](const char* at) {
        out += UndefinedByte(page, static_cast<unsigned char>(*at));
        return size_t{1};
    };
    if (!Convert(cd, text.data(), text.size(), 1, out, undefined)) {
        Fail(platform::kErrInvalidParameter);
        return {};
    }
    return out;
}

}  // namespace sim
