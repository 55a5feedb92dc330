// Any bytes as a package: open, list, expand every entry (into a vector and into an exact-size
// buffer), and verify with one and with two threads. The input is copied to a buffer of exactly
// its size, so AddressSanitizer reports any read past the end of the "file".
//
// Properties checked besides "no crash": a package that verifies clean reads every entry; both
// ways of reading give the same bytes; Verify's result does not depend on the thread count.
#include "dbpf_package.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size ? size : 1]);
    if (size > 0) {
        std::memcpy(copy.get(), data, size);
    }
    auto opened = dbpf::Package::OpenBuffer(copy.get(), size);
    if (!opened.ok()) {
        if (opened.error().Describe().empty()) {
            __builtin_trap();
        }
        return 0;
    }
    const dbpf::Package& pkg = opened.value();
    const auto& entries = pkg.Entries();
    if (entries.size() > size / 20 + 1) {
        __builtin_trap(); // more entries than the bytes could hold
    }
    std::vector<unsigned char> out, scratch;
    std::size_t readable = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const dbpf::Error e = pkg.Read(i, out, &scratch);
        if (!e.ok()) {
            if (!out.empty() || e.entry != i) {
                __builtin_trap();
            }
            continue;
        }
        ++readable;
        if (out.size() != entries[i].uncompressed) {
            __builtin_trap();
        }
        std::unique_ptr<unsigned char[]> exact(new unsigned char[out.size() ? out.size() : 1]);
        if (!pkg.ReadTo(i, exact.get(), out.size()).ok() ||
            std::memcmp(exact.get(), out.data(), out.size()) != 0) {
            __builtin_trap();
        }
    }
    const auto one = pkg.Verify(1);
    const auto two = pkg.Verify(2);
    if (one.size() != two.size()) {
        __builtin_trap();
    }
    for (std::size_t k = 0; k < one.size(); ++k) {
        if (one[k].entry != two[k].entry || one[k].code != two[k].code) {
            __builtin_trap();
        }
    }
    if (one.empty()) {
        // Sound: everything but deleted entries and the directory record reads.
        std::size_t skipped = 0;
        for (const dbpf::Entry& e : entries) {
            skipped += e.compression == dbpf::Compression::kDeleted || e.IsDirectory();
        }
        if (readable + skipped < entries.size()) {
            __builtin_trap();
        }
    }
    return 0;
}
