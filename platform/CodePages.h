// WideCharToMultiByte / MultiByteToWideChar with Windows code pages.
#pragma once

#include <string>

#include "platform/Types.h"

namespace platform {

class ICodePages {
public:
    virtual ~ICodePages() = default;
    // Characters the code page cannot hold become its default character.
    virtual std::string FromWide(uint32_t codePage, const std::wstring& text) = 0;
    virtual std::wstring ToWide(uint32_t codePage, const std::string& text) = 0;
};

}  // namespace platform
