#include "independent_reader.h"

#include <map>
#include <tuple>

namespace independent {

namespace {

// Bounds-checked little-endian reads: `at` must leave 4 bytes.
bool U32(const std::vector<std::uint8_t>& b, std::uint64_t at, std::uint32_t& v) {
    if (at + 4 > b.size()) {
        return false;
    }
    v = b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
    return true;
}

bool Slice(const std::vector<std::uint8_t>& b, std::uint64_t at, std::uint64_t n,
           std::vector<std::uint8_t>& out) {
    if (at > b.size() || n > b.size() - at) {
        return false;
    }
    out.assign(b.begin() + static_cast<std::ptrdiff_t>(at),
               b.begin() + static_cast<std::ptrdiff_t>(at + n));
    return true;
}

} // namespace

bool Expand(const std::vector<std::uint8_t>& e, std::vector<std::uint8_t>& out) {
    if (e.size() < 9 || e[4] != 0x10 || e[5] != 0xFB) {
        return false;
    }
    std::uint32_t total;
    U32(e, 0, total);
    if (total != e.size()) {
        return false;
    }
    const std::size_t want = static_cast<std::size_t>(e[6]) << 16 | e[7] << 8 | e[8];
    out.clear();
    std::size_t s = 9;
    while (s < e.size()) {
        const unsigned b0 = e[s];
        unsigned lit = 0, len = 0, dist = 0, extra = 0;
        if (b0 < 0x80) {
            extra = 1;
        } else if (b0 < 0xC0) {
            extra = 2;
        } else if (b0 < 0xE0) {
            extra = 3;
        }
        if (s + 1 + extra > e.size()) {
            return false;
        }
        const unsigned b1 = extra > 0 ? e[s + 1] : 0, b2 = extra > 1 ? e[s + 2] : 0,
                       b3 = extra > 2 ? e[s + 3] : 0;
        if (b0 < 0x80) { // 2 bytes: 0DDLLLPP DDDDDDDD
            lit = b0 & 3;
            len = ((b0 >> 2) & 7) + 3;
            dist = ((b0 & 0x60) << 3) + b1 + 1;
        } else if (b0 < 0xC0) { // 3 bytes: 10LLLLLL PPDDDDDD DDDDDDDD
            lit = b1 >> 6;
            len = (b0 & 0x3F) + 4;
            dist = ((b1 & 0x3F) << 8) + b2 + 1;
        } else if (b0 < 0xE0) { // 4 bytes: 110DLLPP DDDDDDDD DDDDDDDD LLLLLLLL
            lit = b0 & 3;
            len = ((b0 & 0x0C) << 6) + b3 + 5;
            dist = ((b0 & 0x10) << 12) + (b1 << 8) + b2 + 1;
        } else if (b0 < 0xFC) { // literals only, 4 to 112
            lit = ((b0 & 0x1F) + 1) * 4;
        } else { // end, 0 to 3 literals
            lit = b0 & 3;
        }
        s += 1 + extra;
        if (s + lit > e.size()) {
            return false;
        }
        out.insert(out.end(), e.begin() + static_cast<std::ptrdiff_t>(s),
                   e.begin() + static_cast<std::ptrdiff_t>(s + lit));
        s += lit;
        if (dist > out.size()) {
            return false;
        }
        for (unsigned k = 0; k < len; ++k) {
            out.push_back(out[out.size() - dist]);
        }
        if (out.size() > want) {
            return false;
        }
    }
    return out.size() == want && s == e.size();
}

bool Read(const std::vector<std::uint8_t>& f, Package& pkg, std::string& why) {
    std::uint32_t magic;
    if (!U32(f, 0, magic) || magic != 0x46504244u) { // "DBPF"
        why = "no magic";
        return false;
    }
    std::uint32_t count, indexAt40, indexSize, indexMajor, indexAt64;
    U32(f, 4, pkg.major);
    U32(f, 8, pkg.minor);
    if (!U32(f, 32, indexMajor) || !U32(f, 36, count) || !U32(f, 40, indexAt40) ||
        !U32(f, 44, indexSize) || !U32(f, 60, pkg.indexMinor) || !U32(f, 64, indexAt64) ||
        f.size() < 96) {
        why = "short header";
        return false;
    }
    pkg.records.clear();
    if (pkg.major == 1) {
        if (indexMajor != 7) {
            why = "index major";
            return false;
        }
        const bool v71 = pkg.indexMinor == 2;
        const std::uint64_t rec = v71 ? 24 : 20;
        if (count * rec > indexSize) {
            why = "index too small";
            return false;
        }
        std::vector<std::uint32_t> offsets, sizes;
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t at = indexAt40 + i * rec;
            Record r;
            std::uint32_t inst, off, size;
            if (!U32(f, at, r.type) || !U32(f, at + 4, r.group) || !U32(f, at + 8, inst)) {
                why = "index outside the file";
                return false;
            }
            r.instance = inst;
            std::uint64_t next = at + 12;
            if (v71) {
                r.hasResource = true;
                U32(f, next, r.resource);
                next += 4;
            }
            if (!U32(f, next, off) || !U32(f, next + 4, size) || !Slice(f, off, size, r.bytes)) {
                why = "entry outside the file";
                return false;
            }
            r.isDirectory = r.type == 0xE86B1EEF && r.group == 0xE86B1EEF && inst == 0x286B1F03;
            pkg.records.push_back(r);
        }
        // The directory record names the compressed entries and their expanded sizes.
        std::multimap<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t>,
                      std::uint32_t>
            listed;
        for (const Record& r : pkg.records) {
            if (!r.isDirectory) {
                continue;
            }
            const std::size_t dr = v71 ? 20 : 16;
            if (r.bytes.size() % dr != 0) {
                why = "directory record size";
                return false;
            }
            for (std::size_t at = 0; at < r.bytes.size(); at += dr) {
                std::uint32_t t, g, i, res = 0, n;
                U32(r.bytes, at, t);
                U32(r.bytes, at + 4, g);
                U32(r.bytes, at + 8, i);
                if (v71) {
                    U32(r.bytes, at + 12, res);
                }
                U32(r.bytes, at + dr - 4, n);
                listed.emplace(std::make_tuple(t, g, i, res), n);
            }
        }
        for (Record& r : pkg.records) {
            if (r.isDirectory) {
                continue;
            }
            auto it = listed.find(std::make_tuple(
                r.type, r.group, static_cast<std::uint32_t>(r.instance), r.resource));
            if (it == listed.end()) {
                continue;
            }
            std::vector<std::uint8_t> plain;
            if (!Expand(r.bytes, plain) || plain.size() != it->second) {
                why = "compressed entry does not expand to its listed size";
                return false;
            }
            listed.erase(it);
            r.compressed = true;
            r.bytes.swap(plain);
        }
        if (!listed.empty()) {
            why = "directory lists a missing entry";
            return false;
        }
        return true;
    }
    if (pkg.major != 2) {
        why = "major version";
        return false;
    }
    const std::uint64_t at0 = indexAt64;
    std::uint32_t type;
    if (!U32(f, at0, type)) {
        why = "index outside the file";
        return false;
    }
    std::uint64_t p = at0 + 4;
    std::uint32_t fixed[3] = {0, 0, 0};
    for (int b = 0; b < 3; ++b) {
        if (type & (1u << b)) {
            if (!U32(f, p, fixed[b])) {
                why = "index outside the file";
                return false;
            }
            p += 4;
        }
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint32_t v[8];
        for (int k = 0; k < 8; ++k) {
            if (k < 3 && (type & (1u << k))) {
                v[k] = fixed[k];
                continue;
            }
            if (!U32(f, p, v[k])) {
                why = "index outside the file";
                return false;
            }
            p += 4;
        }
        if (p > at0 + indexSize) {
            why = "index larger than its size";
            return false;
        }
        Record r;
        r.type = v[0];
        r.group = v[1];
        r.instance = static_cast<std::uint64_t>(v[2]) << 32 | v[3];
        std::vector<std::uint8_t> stored;
        if (!Slice(f, v[4], v[5] & 0x7FFFFFFF, stored)) {
            why = "entry outside the file";
            return false;
        }
        const unsigned kind = v[7] & 0xFFFF;
        if (kind == 0) {
            if (stored.size() != v[6]) {
                why = "stored sizes differ";
                return false;
            }
            r.bytes.swap(stored);
        } else if (kind == 0xFFFF) {
            // short header -> 9-byte form
            if (stored.size() < 5 || stored[1] != 0xFB) {
                why = "short header";
                return false;
            }
            const std::size_t w = (stored[0] & 0x80) ? 4 : 3;
            const std::size_t h = 2 + w * ((stored[0] & 1) ? 2 : 1);
            std::vector<std::uint8_t> e(9);
            const std::uint32_t total = static_cast<std::uint32_t>(9 + stored.size() - h);
            e[0] = total & 0xFF;
            e[1] = (total >> 8) & 0xFF;
            e[2] = (total >> 16) & 0xFF;
            e[3] = total >> 24;
            e[4] = 0x10;
            e[5] = 0xFB;
            e[6] = (v[6] >> 16) & 0xFF;
            e[7] = (v[6] >> 8) & 0xFF;
            e[8] = v[6] & 0xFF;
            e.insert(e.end(), stored.begin() + static_cast<std::ptrdiff_t>(h), stored.end());
            if (!Expand(e, r.bytes) || r.bytes.size() != v[6]) {
                why = "compressed entry does not expand";
                return false;
            }
            r.compressed = true;
        } else {
            why = "compression kind this reader does not handle";
            return false;
        }
        pkg.records.push_back(r);
    }
    return true;
}

} // namespace independent
