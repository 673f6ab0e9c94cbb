// Code page conversion by Windows itself, so every code page the machine
// knows works and unmappable characters follow the machine's own rules.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32/WinApi.h"

#include "platform/CodePages.h"

namespace platform::win32 {

// Shared with the parts of the back end that hand 8-bit text to others.
std::string NarrowFromWide(uint32_t codePage, const std::wstring& text);
std::wstring WideFromNarrow(uint32_t codePage, const std::string& text);

class Win32CodePages final : public ICodePages {
public:
    std::string FromWide(uint32_t codePage, const std::wstring& text) override;
    std::wstring ToWide(uint32_t codePage, const std::string& text) override;
};

}  // namespace platform::win32
