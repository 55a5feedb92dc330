// Little-endian integers of the package format. The callers check the bounds first: the reader
// checks every range against the file before it loads a field from it.
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

} // namespace detail
} // namespace dbpf
