// Wide strings (UTF-16 on Windows, UTF-32 elsewhere) to UTF-8, the encoding
// of the library file's strings.
#pragma once

#include <string>

namespace itl {

// Unpaired surrogates become U+FFFD.
std::string WideToUtf8(const std::wstring& wide);

}  // namespace itl
