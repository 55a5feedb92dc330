// Windows paths given to the file-system stand-ins, as POSIX paths.
#pragma once

#include <string>

namespace fs_posix {

// "Z:\home\u" and "\home\u" give "/home/u"; "rel\x" and "Z:rel\x" give "rel/x" (relative to
// the working directory). Returns false for other drives, network paths and empty texts.
inline bool ToPosixPath(const char* path, std::string* out) {
    if (!path || !*path)
        return false;
    std::string p(path);
    if (p.size() >= 2 && (p[0] == '\\' || p[0] == '/') && (p[1] == '\\' || p[1] == '/'))
        return false;
    if (p.size() >= 2 && p[1] == ':') {
        if (p[0] != 'Z' && p[0] != 'z')
            return false;
        p.erase(0, 2);
        if (p.empty())
            p = "/";
    }
    for (char& c : p)
        if (c == '\\')
            c = '/';
    *out = p;
    return true;
}

} // namespace fs_posix
