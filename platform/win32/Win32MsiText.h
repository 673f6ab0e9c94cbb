// Text out of msi.dll. The calls that return text take a buffer and its
// length in characters and, when the buffer is too short, answer
// ERROR_MORE_DATA with the length the value needs (terminator not counted).
// A path or a package name seldom passes MAX_PATH, so one call usually does;
// a longer value costs a second call with a buffer of exactly the right size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/WinApi.h"

namespace platform::win32 {

constexpr DWORD kMsiFirstTextLength = MAX_PATH;

// `call(buffer, &length)` makes the msi.dll call. The value can change
// between the two calls (a product being installed meanwhile), so the retry
// repeats for as long as the answer is ERROR_MORE_DATA.
template <typename Call>
uint32_t ReadMsiText(Call call, std::wstring& text) {
    std::vector<wchar_t> buffer(kMsiFirstTextLength);
    for (;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const UINT status = call(buffer.data(), &length);
        if (status == ERROR_MORE_DATA) {
            size_t needed = static_cast<size_t>(length) + 1;
            // A length that would not grow the buffer would loop for ever.
            if (needed <= buffer.size()) needed = buffer.size() * 2;
            buffer.assign(needed, L'\0');
            continue;
        }
        if (status != ERROR_SUCCESS) return status;
        const size_t copied = length < buffer.size() ? length : buffer.size() - 1;
        text.assign(buffer.data(), copied);
        return ERROR_SUCCESS;
    }
}

}  // namespace platform::win32
