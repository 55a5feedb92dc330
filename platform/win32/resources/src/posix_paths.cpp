#include "posix_paths.h"

namespace dbpf {
namespace posix {

bool ToPosixPath(const char* path, std::string* out) {
    std::string p(path);
    if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
        return false;
    }
    if (p.size() >= 2 && p[1] == ':' &&
        ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'))) {
        if (p[0] != 'Z' && p[0] != 'z') {
            return false;
        }
        p.erase(0, 2);
        if (p.empty()) {
            p = "/";
        }
    }
    for (char& c : p) {
        if (c == '\\') {
            c = '/';
        }
    }
    *out = p;
    return !p.empty();
}

} // namespace posix
} // namespace dbpf
