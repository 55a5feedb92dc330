// Shell path and runtime functions, byte for byte as Windows does them. Blanks, double quotes,
// slashes, backslashes, colons and dots are ASCII, and no byte of a multi-byte character of the
// ANSI code page (UTF-8 here) can be mistaken for one, so the scans go byte by byte.
#include "shell_logic.h"

#include <cerrno>
#include <cstring>

namespace shell_logic {

int StrcpyS(char* dest, std::size_t destsz, const char* src) {
    if (!dest || destsz == 0)
        return EINVAL;
    if (!src) {
        dest[0] = '\0';
        return EINVAL;
    }
    std::size_t n = std::strlen(src);
    if (n >= destsz) {
        dest[0] = '\0';
        return ERANGE;
    }
    std::memcpy(dest, src, n + 1);
    return 0;
}

namespace {

struct Part {
    char* buffer;
    std::size_t size;
    const char* begin;
    std::size_t length;
};

} // namespace

// "C:\dir\sub\name.tar.gz" gives drive "C:", directory "\dir\sub\", name "name.tar",
// extension ".gz". ".profile" gives the empty name and the extension ".profile"; "a.b\c" gives
// no extension (the dot is in the directory).
int SplitPathS(const char* path, char* drive, std::size_t driveSize, char* dir, std::size_t dirSize,
               char* fname, std::size_t fnameSize, char* ext, std::size_t extSize) {
    Part parts[4] = {{drive, driveSize, path, 0},
                     {dir, dirSize, path, 0},
                     {fname, fnameSize, path, 0},
                     {ext, extSize, path, 0}};
    bool bad = !path;
    for (const Part& p : parts) {
        if ((p.buffer == nullptr) != (p.size == 0))
            bad = true;
    }
    // An invalid argument leaves every buffer as it was; only a part too long for its buffer
    // empties them all (below).
    if (bad)
        return EINVAL;

    const char* p = path;
    if (p[0] != '\0' && p[1] == ':') {
        parts[0].length = 2;
        p += 2;
    }
    const char* dirEnd = p;
    const char* lastDot = nullptr;
    for (const char* q = p; *q; ++q) {
        if (*q == '\\' || *q == '/') {
            dirEnd = q + 1;
            lastDot = nullptr;
        } else if (*q == '.') {
            lastDot = q;
        }
    }
    const char* end = dirEnd + std::strlen(dirEnd);
    const char* nameEnd = lastDot ? lastDot : end;
    parts[1].begin = p;
    parts[1].length = static_cast<std::size_t>(dirEnd - p);
    parts[2].begin = dirEnd;
    parts[2].length = static_cast<std::size_t>(nameEnd - dirEnd);
    parts[3].begin = nameEnd;
    parts[3].length = static_cast<std::size_t>(end - nameEnd);

    for (const Part& part : parts) {
        if (part.buffer && part.length >= part.size) {
            for (Part& q : parts) {
                if (q.buffer)
                    q.buffer[0] = '\0';
            }
            return ERANGE;
        }
    }
    for (Part& part : parts) {
        if (part.buffer) {
            std::memcpy(part.buffer, part.begin, part.length);
            part.buffer[part.length] = '\0';
        }
    }
    return 0;
}

// "app.exe /a" gives "/a"; "\"C:\Program Files\a.exe\" x y" gives "x y"; "app.exe   /a"
// gives "  /a" (only the first blank is skipped); "a\"b c" gives "" (the quote is open).
char* FindArgs(const char* path) {
    if (!path)
        return nullptr;
    bool quoted = false;
    for (; *path; ++path) {
        if (*path == ' ' && !quoted)
            return const_cast<char*>(path + 1);
        if (*path == '"')
            quoted = !quoted;
    }
    return const_cast<char*>(path);
}

void CutArgs(char* path) {
    if (!path)
        return;
    char* args = FindArgs(path);
    if (*args)
        args[-1] = '\0';
    else if (args > path && args[-1] == ' ')
        args[-1] = '\0';
}

void UnquoteSpaces(char* path) {
    if (!path || path[0] != '"')
        return;
    std::size_t n = std::strlen(path);
    if (path[n - 1] != '"')
        return;
    path[n - 1] = '\0';
    std::memmove(path, path + 1, n - 1); // the text between the quotes and the zero
}

std::string BuildCommandLine(const std::vector<std::string>& args) {
    std::string out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (i)
            out += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
            out += arg;
            continue;
        }
        out += '"';
        std::size_t backslashes = 0;
        for (char ch : arg) {
            if (ch == '\\') {
                ++backslashes;
                continue;
            }
            // Backslashes before a double quote are doubled, and the quote escaped.
            out.append(ch == '"' ? backslashes * 2 + 1 : backslashes, '\\');
            backslashes = 0;
            out += ch;
        }
        out.append(backslashes * 2, '\\'); // before the closing quote
        out += '"';
    }
    return out;
}

} // namespace shell_logic
