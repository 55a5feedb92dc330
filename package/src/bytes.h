// Little helpers for reading and writing the package's integers. Every read goes through
// ByteReader, which checks the length it needs against what remains before touching a byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dbpf {
namespace detail {

inline std::uint32_t LoadU32LE(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void StoreU32LE(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

inline void AppendU32LE(std::vector<unsigned char>& out, std::uint32_t v) {
    unsigned char b[4];
    StoreU32LE(b, v);
    out.insert(out.end(), b, b + 4);
}

// A cursor over [begin, end). Reads fail (return false, cursor unchanged) when fewer bytes
// remain than they need.
class ByteReader {
public:
    ByteReader(const unsigned char* begin, const unsigned char* end) : p_(begin), end_(end) {}

    std::size_t Remaining() const { return static_cast<std::size_t>(end_ - p_); }

    bool U32(std::uint32_t* v) {
        if (4 > end_ - p_) {
            return false;
        }
        *v = LoadU32LE(p_);
        p_ += 4;
        return true;
    }

private:
    const unsigned char* p_;
    const unsigned char* end_;
};

} // namespace detail
} // namespace dbpf
