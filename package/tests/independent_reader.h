// A second, deliberately separate reader of DBPF packages for the tests: written from the file
// format alone, sharing no code with the library (not even the entry decoder), so that a fault
// the writer and the library's reader share cannot hide. Slow and simple on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace independent {

struct Record {
    std::uint32_t type = 0, group = 0;
    std::uint64_t instance = 0;
    bool hasResource = false;
    std::uint32_t resource = 0;
    bool compressed = false;
    bool isDirectory = false;
    std::vector<std::uint8_t> bytes; // expanded
};

struct Package {
    std::uint32_t major = 0, minor = 0, indexMinor = 0;
    std::vector<Record> records; // index order, the directory record included
};

// Reads the whole package; false with a reason on anything that does not add up.
bool Read(const std::vector<std::uint8_t>& file, Package& out, std::string& why);

// Expands one compressed entry in the 9-byte form; false when it is malformed.
bool Expand(const std::vector<std::uint8_t>& entry, std::vector<std::uint8_t>& out);

} // namespace independent
