// Subcommands of dbpftool. Each takes the arguments after its own name and returns the
// process exit status: 0 on success, 1 on a failure it has already reported on stderr,
// 2 on a usage error.
#pragma once

#include <string>
#include <vector>

namespace dbpftool {

using Args = std::vector<std::string>;

struct Command {
    const char* name;
    const char* usage;   // one line: arguments after the name
    const char* summary; // one line: what it does
    int (*run)(const Args& args);
};

#ifdef DBPF_TOOL_CODEC
int RunCompress(const Args& args);
int RunDecompress(const Args& args);
int RunInfo(const Args& args);
int RunDemo(const Args& args);
#endif
#ifdef DBPF_TOOL_MD5
int RunMd5(const Args& args);
#endif
#ifdef DBPF_TOOL_PATH
int RunPath(const Args& args);
#endif
#ifdef DBPF_TOOL_TOKENS
int RunTokens(const Args& args);
#endif
#ifdef DBPF_TOOL_VERSION
int RunVersion(const Args& args);
#endif
#ifdef DBPF_TOOL_IMAGE
int RunImage(const Args& args);
#endif

// Prints "dbpftool: <what>: <reason>" on stderr and returns 1, for one-line failure reports.
int Fail(const std::string& what, const std::string& reason);

} // namespace dbpftool
