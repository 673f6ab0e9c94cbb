// Text out of msi.dll. The calls that return text take a buffer and its
// length in characters and, when the buffer is too short, answer
// ERROR_MORE_DATA with the length the value needs (terminator not counted).
// A path or a package name seldom passes MAX_PATH, so one call usually does;
// a longer value costs a second call with a buffer of exactly the right size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win32/GrowingBuffer.h"
#include "platform/win32/WinApi.h"

namespace platform::win32 {

constexpr DWORD kMsiFirstTextLength = MAX_PATH;

// `call(buffer, &length)` makes the msi.dll call. The value can change
// between two calls (a product being installed meanwhile), so the retry
// repeats for as long as the answer is ERROR_MORE_DATA.
template <typename Call>
uint32_t ReadMsiText(Call call, std::wstring& text) {
    auto read = ReadIntoGrowingBuffer<std::wstring>(kMsiFirstTextLength, [&](wchar_t* buffer, size_t size) {
        DWORD length = static_cast<DWORD>(size);
        const UINT status = call(buffer, &length);
        if (status == ERROR_MORE_DATA) return BufferFill::NeedsSize(static_cast<size_t>(length) + 1);
        if (status != ERROR_SUCCESS) return BufferFill::Failed(status);
        return BufferFill::Whole(length < size ? length : size - 1);
    });
    if (!read) return read.Error();
    text = read.Take();
    return ERROR_SUCCESS;
}

}  // namespace platform::win32
