// dbpftool: command-line access to the six libraries of the suite.
#include "commands.h"
#include "file_io.h"

#include <cstdio>
#include <cstring>

namespace dbpftool {

int Fail(const std::string& what, const std::string& reason) {
    std::fprintf(stderr, "dbpftool: %s: %s\n", what.c_str(), reason.c_str());
    return 1;
}

namespace {

const Command kCommands[] = {
#ifdef DBPF_TOOL_CODEC
    {"compress", "IN OUT", "compress IN into a package entry OUT", RunCompress},
    {"decompress", "[--partial N] IN OUT", "expand the package entry IN into OUT", RunDecompress},
    {"info", "IN", "show the header and the commands of the package entry IN", RunInfo},
    {"demo", "[DIR]", "compress, expand and verify every sample file in DIR", RunDemo},
#endif
#ifdef DBPF_TOOL_MD5
    {"md5", "FILE...", "print MD5 digests in the format of md5sum ('-' is stdin)", RunMd5},
#endif
#ifdef DBPF_TOOL_PATH
    {"path", "[--dir] [--args] [--json] [--stat [--base DIR]] (TEXT | --self)",
     "split a path or command line (--self: this tool's own) into its parts; --stat adds "
     "what the file system says about it",
     RunPath},
#endif
#ifdef DBPF_TOOL_TOKENS
    {"tokens", "FILE TOKEN...", "report every token completed while scanning FILE", RunTokens},
#endif
#ifdef DBPF_TOOL_VERSION
    {"version", "[--json] FILE", "show the version resource of a module", RunVersion},
#endif
#ifdef DBPF_TOOL_IMAGE
    {"image", "FILE | MODULE --resource NAME|#ID TYPE|#ID [--png OUT]",
     "load an image from a file or a module resource; print its size and format", RunImage},
#endif
};

void PrintUsage(std::FILE* out) {
    std::fprintf(out, "usage: dbpftool COMMAND [ARGS...]\n\ncommands:\n");
    for (const Command& c : kCommands) {
        std::fprintf(out, "  %s %s\n      %s\n", c.name, c.usage, c.summary);
    }
}

} // namespace
} // namespace dbpftool

int main(int argc, char** argv) {
    using namespace dbpftool;
    RemoveTemporaryFilesOnSignals();
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintUsage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const Command& c : kCommands) {
        if (std::strcmp(argv[1], c.name) == 0) {
            Args args(argv + 2, argv + argc);
            return c.run(args);
        }
    }
    std::fprintf(stderr, "dbpftool: unknown command '%s'\n", argv[1]);
    PrintUsage(stderr);
    return 2;
}
