// The PE resource reader, the version block and CFileVersionInfo::Open on arbitrary bytes.
// Seeds: the test modules made from platform/win32/resources/testdata/*.rc.
#include <edrith.h>

#include <platform/pe_image.h>
#include <platform/version_block.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

using dbpf::pe::PeImage;
using dbpf::pe::ResourceInfo;
using dbpf::pe::ResourceKey;
using dbpf::pe::ResourceLocation;
using dbpf::pe::Result;

namespace {

const char* const kPaths[] = {
    "\\",
    "\\VarFileInfo\\Translation",
    "\\StringFileInfo\\040904E4\\CompanyName",
    "\\StringFileInfo\\040904B0\\ProductName",
    "\\StringFileInfo\\040704e4\\legalcopyright",
    "\\StringFileInfo",
    "\\StringFileInfo\\040904E4",
};

std::string TempPath() {
    return "/tmp/fuzz_version_" + std::to_string(getpid()) + ".dll";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The reader works on an exact-size copy, so any read past the input is caught.
    std::vector<std::uint8_t> bytes(data, data + size);
    PeImage img;
    if (PeImage::Parse(bytes.data(), bytes.size(), &img) == Result::kOk) {
        std::vector<ResourceInfo> all;
        img.List(&all, 64);
        ResourceLocation loc;
        img.Find(ResourceKey::Name(u"GREETING"), ResourceKey::Id(1), 0, true, &loc);
        if (img.Find(ResourceKey::Id(16), ResourceKey::Id(1), 0, true, &loc) == Result::kOk) {
            const std::uint8_t* res = img.data() + loc.file_offset;
            const std::size_t n = dbpf::pe::VersionBlockSize(res, loc.size);
            if (n != 0) {
                std::vector<std::uint8_t> block(n);
                if (dbpf::pe::FillVersionBlock(res, loc.size, block.data(), block.size())) {
                    for (const char* p : kPaths) {
                        void* v = nullptr;
                        unsigned len = 0;
                        if (dbpf::pe::QueryVersionBlockA(block.data(), p, &v, &len)) {
                            // The value must lie inside the block.
                            const std::uint8_t* b = static_cast<const std::uint8_t*>(v);
                            if (b < block.data() || b > block.data() + block.size() ||
                                len > static_cast<std::size_t>(block.data() + block.size() - b)) {
                                __builtin_trap();
                            }
                        }
                    }
                }
            }
        }
    }

    // The class, through the file functions, as a client uses it.
    static const std::string path = TempPath();
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
        CFileVersionInfo info;
        if (info.Open(path.c_str())) {
            char buf[64];
            for (UINT t = 0; t < info.GetTransCount() && t < 4; ++t) {
                info.SetTransIndex(t);
                for (int i = 0; i < 13; ++i) {
                    info.QueryStringValue(i, buf, sizeof buf);
                }
            }
            CFileVersionInfo copy(info);
            copy.GetFileVersion();
        }
    }
    return 0;
}
