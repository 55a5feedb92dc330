// A checked view of untrusted bytes. Every read says whether it fit; offsets come from the
// file and are compared with what remains (`n > size - off`), never added first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imaging {

class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

    // True when `n` bytes starting at `off` lie inside the view.
    bool Has(std::size_t off, std::size_t n) const { return off <= size_ && n <= size_ - off; }

    bool U8(std::size_t off, std::uint8_t& v) const {
        if (!Has(off, 1))
            return false;
        v = data_[off];
        return true;
    }
    bool U16LE(std::size_t off, std::uint16_t& v) const {
        if (!Has(off, 2))
            return false;
        v = static_cast<std::uint16_t>(data_[off] | (data_[off + 1] << 8));
        return true;
    }
    bool U32LE(std::size_t off, std::uint32_t& v) const {
        if (!Has(off, 4))
            return false;
        v = std::uint32_t(data_[off]) | (std::uint32_t(data_[off + 1]) << 8) |
            (std::uint32_t(data_[off + 2]) << 16) | (std::uint32_t(data_[off + 3]) << 24);
        return true;
    }
    bool S32LE(std::size_t off, std::int32_t& v) const {
        std::uint32_t u;
        if (!U32LE(off, u))
            return false;
        v = static_cast<std::int32_t>(u);
        return true;
    }
    // The bytes [from, to) as a view of their own; false when to < from or to > size.
    bool Slice(std::size_t from, std::size_t to, ByteReader& out) const {
        if (to < from || to > size_)
            return false;
        out = ByteReader(data_ + from, to - from);
        return true;
    }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace imaging
