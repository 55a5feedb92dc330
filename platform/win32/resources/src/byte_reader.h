// The one checked reader through which the PE and version-resource parsers read file bytes.
// Every read names an absolute offset into a fixed byte range; a read that would reach past the
// end fails instead of touching memory. Lengths are compared with what remains (n > size - off),
// never by adding to an offset, so nothing wraps on 32-bit builds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dbpf {
namespace pe {

class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t size() const { return size_; }
    const std::uint8_t* data() const { return data_; }

    // True when [off, off + n) lies inside the range.
    bool Has(std::size_t off, std::size_t n) const { return off <= size_ && n <= size_ - off; }

    bool U16(std::size_t off, std::uint16_t* v) const {
        if (!Has(off, 2)) {
            return false;
        }
        *v = static_cast<std::uint16_t>(data_[off] | (data_[off + 1] << 8));
        return true;
    }

    bool U32(std::size_t off, std::uint32_t* v) const {
        if (!Has(off, 4)) {
            return false;
        }
        *v = static_cast<std::uint32_t>(data_[off]) |
             (static_cast<std::uint32_t>(data_[off + 1]) << 8) |
             (static_cast<std::uint32_t>(data_[off + 2]) << 16) |
             (static_cast<std::uint32_t>(data_[off + 3]) << 24);
        return true;
    }

    // The sub-range [from, to); fails when to < from or to > size.
    bool Slice(std::size_t from, std::size_t to, ByteReader* out) const {
        if (to < from || to > size_) {
            return false;
        }
        *out = ByteReader(data_ + from, to - from);
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// Rounds up to a multiple of 4 without wrapping; fails when the result would pass `limit`.
inline bool AlignUp4(std::size_t off, std::size_t limit, std::size_t* out) {
    std::size_t pad = (4 - (off & 3)) & 3;
    if (off > limit || pad > limit - off) {
        return false;
    }
    *out = off + pad;
    return true;
}

} // namespace pe
} // namespace dbpf
