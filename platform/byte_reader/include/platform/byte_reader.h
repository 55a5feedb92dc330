// A checked view of untrusted bytes: the one reader through which the platform's parsers of
// outside data (PE headers and resource trees, version blocks, image files) read.
//
// Every read names an absolute offset into the view and says whether it fit; a read that would
// reach past the end fails instead of touching memory. Lengths are compared with what remains
// (`n > size - off`), never by adding to an offset first, so nothing wraps on 32-bit builds.
// Multi-byte values are little-endian, as every format read through it stores them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace dbpf {

class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

    // True when the `n` bytes starting at `off` lie inside the view.
    bool Has(std::size_t off, std::size_t n) const { return off <= size_ && n <= size_ - off; }

    bool ReadU8(std::size_t off, std::uint8_t* v) const {
        if (!Has(off, 1))
            return false;
        *v = data_[off];
        return true;
    }
    bool ReadU16LE(std::size_t off, std::uint16_t* v) const {
        if (!Has(off, 2))
            return false;
        *v = static_cast<std::uint16_t>(data_[off] | (data_[off + 1] << 8));
        return true;
    }
    bool ReadU32LE(std::size_t off, std::uint32_t* v) const {
        if (!Has(off, 4))
            return false;
        *v = std::uint32_t(data_[off]) | (std::uint32_t(data_[off + 1]) << 8) |
             (std::uint32_t(data_[off + 2]) << 16) | (std::uint32_t(data_[off + 3]) << 24);
        return true;
    }
    bool ReadS32LE(std::size_t off, std::int32_t* v) const {
        std::uint32_t u = 0;
        if (!ReadU32LE(off, &u))
            return false;
        *v = static_cast<std::int32_t>(u);
        return true;
    }

    // `units` UTF-16 code units starting at `off`, stored as they are (no check of surrogates).
    bool ReadUtf16(std::size_t off, std::size_t units, std::u16string* out) const {
        if (units > size_ / 2 || !Has(off, units * 2))
            return false;
        out->resize(units);
        for (std::size_t i = 0; i < units; ++i)
            (*out)[i] = static_cast<char16_t>(data_[off + 2 * i] | (data_[off + 2 * i + 1] << 8));
        return true;
    }

    // A zero-terminated UTF-16 string starting at `off` whose terminator lies before `limit`
    // (at most the view's size). `*next` receives the offset just past the terminator. Fails
    // when no terminator is found before the limit.
    bool ReadUtf16Z(std::size_t off, std::size_t limit, std::u16string* out,
                    std::size_t* next) const {
        if (limit > size_)
            limit = size_;
        out->clear();
        for (std::size_t p = off; p <= limit && limit - p >= 2; p += 2) {
            const char16_t unit = static_cast<char16_t>(data_[p] | (data_[p + 1] << 8));
            if (unit == 0) {
                *next = p + 2;
                return true;
            }
            out->push_back(unit);
        }
        return false;
    }

    // The bytes [from, to) as a view of their own; fails when to < from or to > size.
    bool Slice(std::size_t from, std::size_t to, ByteReader* out) const {
        if (to < from || to > size_)
            return false;
        *out = ByteReader(data_ + from, to - from);
        return true;
    }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Rounds `off` up to a multiple of `alignment` (a power of two) without wrapping; fails when
// the result would pass `limit`.
inline bool AlignUp(std::size_t off, std::size_t alignment, std::size_t limit, std::size_t* out) {
    const std::size_t pad = (alignment - (off & (alignment - 1))) & (alignment - 1);
    if (off > limit || pad > limit - off)
        return false;
    *out = off + pad;
    return true;
}

} // namespace dbpf
