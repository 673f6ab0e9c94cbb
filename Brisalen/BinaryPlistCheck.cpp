#include "Brisalen/BinaryPlistCheck.h"

#include <cstdint>
#include <cstring>
#include <unordered_map>

#include "Brisalen/PlistNode.h"

namespace {

constexpr size_t kHeaderSize = 8;  // "bplist00"
constexpr size_t kTrailerSize = 32;

uint64_t ReadBigEndian(const unsigned char* at, size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value = (value << 8) | at[i];
    return value;
}

// One walk over the object graph. Each object reached is measured once
// (what it expands to and how deep), so shared objects cost nothing extra
// here while their expansion is still counted in full.
class CObjectWalk {
public:
    CObjectWalk(const unsigned char* data, size_t size) : data_(data), size_(size) {}

    bool Run() {
        const unsigned char* trailer = data_ + size_ - kTrailerSize;
        offsetSize_ = trailer[6];
        refSize_ = trailer[7];
        objectCount_ = ReadBigEndian(trailer + 8, 8);
        const uint64_t root = ReadBigEndian(trailer + 16, 8);
        tableOffset_ = ReadBigEndian(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
        if (objectCount_ == 0 || root >= objectCount_) return false;
        const uint64_t tableEnd = size_ - kTrailerSize;
        if (tableOffset_ < kHeaderSize || tableOffset_ > tableEnd) return false;
        if (objectCount_ > (tableEnd - tableOffset_) / offsetSize_) return false;
        Measure measure;
        return Visit(root, 1, measure);
    }

private:
    enum class State : uint8_t { Open, Done };
    struct Measure {
        size_t nodes = 0;
        int height = 0;
        State state = State::Open;
    };

    bool ObjectOffset(uint64_t index, uint64_t& offset) const {
        offset = ReadBigEndian(data_ + tableOffset_ + index * offsetSize_, offsetSize_);
        return offset >= kHeaderSize && offset < tableOffset_;
    }

    // A date is an eight-byte double inside the object area. Its value is
    // not judged here: a date far in the future anywhere in the list must
    // not cost the backup its device fields. The one date the library reads
    // goes through PlistDateSeconds, which never converts out of range.
    bool IsDateWellFormed(uint64_t offset) const { return data_[offset] == 0x33 && offset + 9 <= tableOffset_; }

    // The element count of a container whose marker is at `offset`, and
    // where its references start.
    bool ContainerCount(uint64_t offset, uint64_t& count, uint64_t& refs) const {
        const unsigned lowNibble = data_[offset] & 0x0F;
        refs = offset + 1;
        if (lowNibble != 0x0F) {
            count = lowNibble;
            return true;
        }
        if (refs >= tableOffset_) return false;
        const unsigned char intMarker = data_[refs];
        if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3) return false;
        const size_t width = size_t{1} << (intMarker & 0x0F);
        if (refs + 1 + width > tableOffset_) return false;
        count = ReadBigEndian(data_ + refs + 1, width);
        refs += 1 + width;
        return true;
    }

    bool Visit(uint64_t index, int depth, Measure& result) {
        if (depth > kMaxPlistDepth) return false;
        const auto known = measured_.find(index);
        if (known != measured_.end()) {
            if (known->second.state == State::Open) return false;  // a cycle
            result = known->second;
            // Shared, and met again deeper down than the first time.
            return depth + result.height - 1 <= kMaxPlistDepth;
        }
        uint64_t offset = 0;
        if (!ObjectOffset(index, offset)) return false;
        measured_[index] = Measure{};
        Measure own;
        own.nodes = 1;
        own.height = 1;
        const unsigned type = data_[offset] >> 4;
        if (type == 0x3 && !IsDateWellFormed(offset)) return false;
        if (type == 0xA || type == 0xC || type == 0xD) {
            uint64_t count = 0;
            uint64_t refs = 0;
            if (!ContainerCount(offset, count, refs)) return false;
            const uint64_t children = type == 0xD ? count * 2 : count;
            if (type == 0xD && count > UINT64_MAX / 2) return false;
            if (children > (tableOffset_ - refs) / refSize_) return false;
            for (uint64_t i = 0; i < children; ++i) {
                const uint64_t child = ReadBigEndian(data_ + refs + i * refSize_, refSize_);
                if (child >= objectCount_) return false;
                Measure sub;
                if (!Visit(child, depth + 1, sub)) return false;
                own.nodes += sub.nodes;
                if (own.nodes > kMaxPlistNodes) return false;
                if (sub.height + 1 > own.height) own.height = sub.height + 1;
            }
        }
        if (depth + own.height - 1 > kMaxPlistDepth) return false;
        own.state = State::Done;
        measured_[index] = own;
        result = own;
        return true;
    }

    const unsigned char* data_;
    size_t size_;
    size_t offsetSize_ = 0;
    size_t refSize_ = 0;
    uint64_t objectCount_ = 0;
    uint64_t tableOffset_ = 0;
    std::unordered_map<uint64_t, Measure> measured_;
};

}  // namespace

bool CBinaryPlistCheck::HasBinaryMagic(const char* data, size_t size) {
    return data != nullptr && size >= kHeaderSize && std::memcmp(data, "bplist00", kHeaderSize) == 0;
}

bool CBinaryPlistCheck::IsWithinBounds(const char* data, size_t size) {
    if (!HasBinaryMagic(data, size) || size < kHeaderSize + kTrailerSize + 1) return false;
    return CObjectWalk(reinterpret_cast<const unsigned char*>(data), size).Run();
}
