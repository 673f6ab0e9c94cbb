// Win32 calls that write a value of unknown length into a buffer the caller
// sizes. Each tells a buffer that was too small in its own words; an adapter
// per call turns those words into a BufferFill, and the loop that grows the
// buffer and asks again lives here once. The value may change between two
// calls (a path renamed, a product installed meanwhile), so the loop asks
// for as long as the answer is "too small", and a value of any length comes
// back whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#include "platform/Result.h"
#include "platform/Types.h"

namespace platform::win32 {

// A call that only ever says "cut short" could grow the buffer without end;
// such calls name the largest buffer worth offering and the error that
// answers past it. Calls that report their size need no limit.
struct BufferLimit {
    size_t maxElements = std::numeric_limits<size_t>::max();
    uint32_t error = kErrInsufficientBuffer;
};

// What one call into the buffer came to.
class BufferFill {
public:
    enum class Kind { Whole, NeedsSize, Truncated, Failed };

    // The whole value is in the first `length` elements of the buffer.
    static BufferFill Whole(size_t length) { return BufferFill(Kind::Whole, length, kErrSuccess); }
    // Stop rule one: the call reports the size it needs, in elements. The
    // next call gets a buffer of that size.
    static BufferFill NeedsSize(size_t size) { return BufferFill(Kind::NeedsSize, size, kErrSuccess); }
    // Stop rule two: the call filled the buffer, so the value may have been
    // cut short, and does not say how long it is. The next call gets twice
    // the room.
    static BufferFill Truncated() { return BufferFill(Kind::Truncated, 0, kErrSuccess); }
    // The call failed for another reason than the buffer's size.
    static BufferFill Failed(uint32_t error) { return BufferFill(Kind::Failed, 0, error); }

    Kind What() const { return kind_; }
    // The length of a whole value, or the size a call needs.
    size_t Count() const { return count_; }
    uint32_t Error() const { return error_; }

private:
    BufferFill(Kind kind, size_t count, uint32_t error) : kind_(kind), count_(count), error_(error) {}

    Kind kind_;
    size_t count_;
    uint32_t error_;
};

// Calls `call(data, size)` on a Buffer (std::wstring, std::vector<T>) of
// `firstSize` elements, growing it as the call's BufferFill asks, and
// answers the buffer cut to the value, or the call's failure.
template <typename Buffer, typename Call>
Result<Buffer> ReadIntoGrowingBuffer(size_t firstSize, Call&& call, BufferLimit limit = {}) {
    Buffer buffer;
    size_t size = firstSize;
    for (;;) {
        if (size > limit.maxElements) return Failure(limit.error);
        buffer.resize(size);
        const BufferFill fill = call(buffer.data(), buffer.size());
        // A size that would not grow the buffer would loop for ever.
        const size_t doubled = size == 0 ? 1 : size * 2;
        switch (fill.What()) {
            case BufferFill::Kind::Whole:
                buffer.resize(fill.Count() < size ? fill.Count() : size);
                return Result<Buffer>(std::move(buffer));
            case BufferFill::Kind::NeedsSize:
                size = fill.Count() > size ? fill.Count() : doubled;
                break;
            case BufferFill::Kind::Truncated:
                size = doubled;
                break;
            case BufferFill::Kind::Failed:
            default:
                return Failure(fill.Error());
        }
    }
}

}  // namespace platform::win32
