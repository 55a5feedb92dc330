// Subcommands of dbpftool. main.cpp declares every command line with CLI11 and calls the
// command with what it parsed: `Args` are the positional arguments in order (anything after
// "--" among them), the other parameters the options. Each returns the process exit status:
// 0 on success, 1 on a failure it has already reported on stderr, 2 on a usage error that only
// the command can see (a value out of range).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dbpftool {

using Args = std::vector<std::string>;

#ifdef DBPF_TOOL_CODEC
int RunCompress(const Args& args, bool best); // IN OUT
// The codec's smaller-output compressor (internal, not exported by Quorrin) with the signature of
// CompressPackage, for `compress --best` and `package pack --best`.
int CompressBest(const unsigned char* source, unsigned int sourceLength, unsigned char* destination,
                 int* compressedLength);
int RunDecompress(const Args& args, const std::optional<std::string>& partial); // IN OUT
int RunInfo(const Args& args);                                                  // IN
int RunDemo(const Args& args);                                                  // [DIR]
#endif
#ifdef DBPF_TOOL_MD5
int RunMd5(const Args& args); // FILE...
#endif
#ifdef DBPF_TOOL_PATH
struct PathOptions {
    bool dir = false, args = false, json = false, self = false, stat = false;
    std::optional<std::string> base;
};
int RunPath(const Args& args, const PathOptions& options); // [TEXT]
#endif
#ifdef DBPF_TOOL_TOKENS
int RunTokens(const Args& args); // FILE TOKEN...
#endif
#ifdef DBPF_TOOL_VERSION
int RunVersion(const Args& args, bool json); // FILE
#endif
#ifdef DBPF_TOOL_IMAGE
struct ImageOptions {
    std::optional<std::string> png;
    std::vector<std::string> resource; // empty, or NAME TYPE
};
int RunImage(const Args& args, const ImageOptions& options); // FILE or MODULE
#endif
#ifdef DBPF_TOOL_PACKAGE
struct PackageOptions {
    bool json = false, raw = false, md5 = false, store = false, quiet = false;
    bool best = false;          // pack: the smaller-output compressor
    unsigned jobs = 0;          // 0: one per processor
    std::string format = "1.1"; // pack: "1.1" or "2.0"
};
int RunPackageList(const Args& args, const PackageOptions& options);       // PKG
int RunPackageExtract(const Args& args, const PackageOptions& options);    // PKG DIR
int RunPackageVerify(const Args& args, const PackageOptions& options);     // PKG
int RunPackagePack(const Args& args, const PackageOptions& options);       // DIR OUT
int RunPackageRecompress(const Args& args, const PackageOptions& options); // IN OUT
#endif

// Prints "dbpftool: <what>: <reason>" on stderr and returns 1, for one-line failure reports.
int Fail(const std::string& what, const std::string& reason);

} // namespace dbpftool
