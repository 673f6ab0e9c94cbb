#include "platform/win32/Win32File.h"

#include <algorithm>
#include <utility>

namespace platform::win32 {

namespace {

// ReadFile and WriteFile count in DWORD; larger requests go in pieces.
constexpr size_t kMaxPiece = 1u << 30;

}  // namespace

Win32File::Win32File(FileHandle handle) : handle_(std::move(handle)) {}

uint64_t Win32File::Size() {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle_.Get(), &size)) return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

size_t Win32File::Read(void* buffer, size_t count) {
    auto* out = static_cast<unsigned char*>(buffer);
    size_t total = 0;
    while (total < count) {
        const DWORD piece = static_cast<DWORD>(std::min(count - total, kMaxPiece));
        DWORD got = 0;
        if (!::ReadFile(handle_.Get(), out + total, piece, &got, nullptr) || got == 0) break;
        total += got;
    }
    return total;
}

bool Win32File::Write(const void* data, size_t count) {
    const auto* in = static_cast<const unsigned char*>(data);
    size_t total = 0;
    while (total < count) {
        const DWORD piece = static_cast<DWORD>(std::min(count - total, kMaxPiece));
        DWORD put = 0;
        if (!::WriteFile(handle_.Get(), in + total, piece, &put, nullptr) || put == 0) return false;
        total += put;
    }
    return true;
}

}  // namespace platform::win32
