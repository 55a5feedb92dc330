// dbpftool version [--json] FILE: the version resource of a module, through CFileVersionInfo.
#include "commands.h"

#include <edrith.h>
#include <platform/pe_image.h>
#include <platform/version_block.h>

#include <cstdio>
#include <string>
#include <vector>

namespace dbpftool {

namespace {

struct StringValue {
    std::string name;
    std::string value;
};

struct Translation {
    unsigned index;
    unsigned lid;
    unsigned cp;
    std::string language;
    std::string code_page;
    std::vector<StringValue> values;
};

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                out += esc;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string Version(unsigned a, unsigned b, unsigned c, unsigned d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", a, b, c, d);
    return buf;
}

// Why CFileVersionInfo could not open a file, found by the PE reader that the POSIX stand-ins
// use (the class itself only answers yes or no).
std::string WhyNoVersion(const std::string& path) {
    using dbpf::pe::Result;
    dbpf::pe::PeFile file;
    Result r = file.Load(path);
    if (r != Result::kOk)
        return dbpf::pe::Describe(r);
    dbpf::pe::ResourceLocation loc;
    r = file.image().Find(dbpf::pe::ResourceKey::Id(16), dbpf::pe::ResourceKey::Id(1), 0, true,
                          &loc);
    if (r == Result::kNotFound)
        return "no version resource";
    if (r != Result::kOk)
        return dbpf::pe::Describe(r);
    if (dbpf::pe::VersionTreeLength(file.image().data() + loc.file_offset, loc.size) == 0)
        return "the version resource is damaged";
    return "the version resource has no valid fixed record or no translation list";
}

} // namespace

int RunVersion(const Args& args, bool json) {
    const std::string& path = args.at(0);
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
    } else {
        return Fail(path, "cannot open the file");
    }

    CFileVersionInfo info;
    if (!info.Open(path.c_str())) {
        return Fail(path, WhyNoVersion(path));
    }
    const std::string file_version = Version(info.GetFileVersionMajor(), info.GetFileVersionMinor(),
                                             info.GetFileVersionBuild(), info.GetFileVersionQFE());
    const std::string product_version =
        Version(info.GetProductVersionMajor(), info.GetProductVersionMinor(),
                info.GetProductVersionBuild(), info.GetProductVersionQFE());

    std::vector<Translation> translations;
    std::vector<char> buffer(65536);
    for (UINT i = 0; i < info.GetTransCount(); ++i) {
        info.SetTransIndex(i);
        Translation t;
        t.index = i;
        t.lid = info.GetCurLID();
        t.cp = info.GetCurCP();
        char name[256];
        if (CFileVersionInfo::GetLIDName(static_cast<unsigned short>(t.lid), name, sizeof name) >
            0) {
            t.language = name;
        }
        const char* cp_name = nullptr;
        CFileVersionInfo::GetCPName(static_cast<unsigned short>(t.cp), &cp_name);
        t.code_page = cp_name != nullptr ? cp_name : "";
        for (int n = 0; n < 13; ++n) {
            if (info.QueryStringValue(n, buffer.data(), static_cast<int>(buffer.size()))) {
                t.values.push_back({info.GetVerStringName(n), buffer.data()});
            }
        }
        translations.push_back(t);
    }

    if (json) {
        std::printf("{\"file\": %s, \"file_version\": %s, \"product_version\": %s, "
                    "\"translations\": [",
                    JsonString(path).c_str(), JsonString(file_version).c_str(),
                    JsonString(product_version).c_str());
        for (std::size_t i = 0; i < translations.size(); ++i) {
            const Translation& t = translations[i];
            std::printf("%s{\"language_id\": %u, \"language\": %s, \"code_page\": %u, "
                        "\"code_page_name\": %s, \"strings\": {",
                        i == 0 ? "" : ", ", t.lid, JsonString(t.language).c_str(), t.cp,
                        JsonString(t.code_page).c_str());
            for (std::size_t k = 0; k < t.values.size(); ++k) {
                std::printf("%s%s: %s", k == 0 ? "" : ", ", JsonString(t.values[k].name).c_str(),
                            JsonString(t.values[k].value).c_str());
            }
            std::printf("}}");
        }
        std::printf("]}\n");
        return 0;
    }

    std::printf("file:            %s\n", path.c_str());
    std::printf("file version:    %s\n", file_version.c_str());
    std::printf("product version: %s\n", product_version.c_str());
    for (const Translation& t : translations) {
        std::printf("translation %u:   language 0x%04X %s, code page %u %s\n", t.index, t.lid,
                    t.language.empty() ? "(unknown)" : t.language.c_str(), t.cp,
                    t.code_page.c_str());
        for (const StringValue& v : t.values) {
            std::printf("  %-17s %s\n", (v.name + ":").c_str(), v.value.c_str());
        }
    }
    return 0;
}

} // namespace dbpftool
