#include "file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace dbpftool {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr) {
            std::fclose(f);
        }
    }
};

bool ReadStream(std::FILE* f, std::vector<std::uint8_t>& out, std::string& error,
                std::uint64_t max_size) {
    out.clear();
    std::uint8_t chunk[1 << 16];
    for (;;) {
        std::size_t got = std::fread(chunk, 1, sizeof chunk, f);
        if (got > 0) {
            if (out.size() + got > max_size) {
                error = "file too large";
                return false;
            }
            out.insert(out.end(), chunk, chunk + got);
        }
        if (got < sizeof chunk) {
            if (std::ferror(f)) {
                error = std::strerror(errno);
                return false;
            }
            return true;
        }
    }
}

} // namespace

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out, std::string& error,
                   std::uint64_t max_size) {
    if (path == "-") {
#ifdef _WIN32
        _setmode(_fileno(stdin), 0x8000 /* _O_BINARY */);
#endif
        return ReadStream(stdin, out, error, max_size);
    }
    errno = 0;
    std::FILE* raw = std::fopen(path.c_str(), "rb");
    if (raw == nullptr) {
        error = errno != 0 ? std::strerror(errno) : "cannot open";
        return false;
    }
    std::unique_ptr<std::FILE, FileCloser> f(raw);
    return ReadStream(f.get(), out, error, max_size);
}

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size,
                         std::string& error) {
    std::string tmp = path + ".tmp-dbpftool";
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (f == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    if (!ok) {
        error = std::strerror(errno);
    }
    if (std::fflush(f) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    if (std::fclose(f) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    if (ok) {
#ifdef _WIN32
        ok = MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
        if (!ok) {
            error = "cannot rename temporary file";
        }
#else
        ok = std::rename(tmp.c_str(), path.c_str()) == 0;
        if (!ok) {
            error = std::strerror(errno);
        }
#endif
    }
    if (!ok) {
        std::remove(tmp.c_str());
    }
    return ok;
}

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

} // namespace dbpftool
