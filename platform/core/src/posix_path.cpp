#include <platform/posix_path.h>

namespace dbpf {
namespace posix {

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

bool ToPosixPath(const char* path, std::string* out) {
    if (path == nullptr || path[0] == '\0')
        return false;
    std::string p(path);
    // Two leading separators start a network path or a device namespace.
    if (p.size() >= 2 && IsSeparator(p[0]) && IsSeparator(p[1]))
        return false;
    if (p.size() >= 2 && IsLetter(p[0]) && p[1] == ':') {
        if (p[0] != 'Z' && p[0] != 'z')
            return false;
        // "Z:\x" is rooted and keeps its separator; "Z:x" is relative to the working
        // directory, and "Z:" is that directory.
        p.erase(0, 2);
        if (p.empty())
            p = ".";
    }
    for (char& c : p) {
        if (c == '\\')
            c = '/';
    }
    *out = p;
    return true;
}

} // namespace posix
} // namespace dbpf
