// dbpftool md5 FILE...: MD5 digests in the format of md5sum, so that `md5sum -c` checks them.
//
// Each line is 32 lowercase hexadecimal digits, two blanks and the file name. Like md5sum, a name
// holding a backslash, a line feed or a carriage return is written with those escaped (\\, \n,
// \r) and the line then starts with a backslash. "-" is standard input. GetMD5 takes a signed
// 32-bit length, so a file longer than 2147483647 bytes is refused; its size is looked at before
// anything is read. A file that cannot be digested is reported on stderr and the others are still
// done; the exit status is then 1.
#include "commands.h"
#include "file_io.h"

#include "nimbrel.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace dbpftool {

namespace {

constexpr std::uint64_t kMaxMessage = INT_MAX;

// The size of a regular file at `path`, or nothing for anything else (a pipe, a device), which
// is then read and refused if it turns out too long. False with a reason when stat fails.
bool RegularFileSize(const std::string& path, bool& regular, std::uint64_t& size,
                     std::string& error) {
#ifdef _WIN32
    struct _stat64 st;
    if (_stat64(path.c_str(), &st) != 0) {
        error = std::strerror(errno);
        return false;
    }
    regular = (st.st_mode & _S_IFMT) == _S_IFREG;
    if ((st.st_mode & _S_IFMT) == _S_IFDIR) {
        error = "Is a directory";
        return false;
    }
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        error = std::strerror(errno);
        return false;
    }
    regular = S_ISREG(st.st_mode);
    if (S_ISDIR(st.st_mode)) {
        error = std::strerror(EISDIR);
        return false;
    }
#endif
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

std::string TooLarge(std::uint64_t size) {
    std::string s = "file too large for an MD5 digest (";
    if (size != 0) {
        s += std::to_string(size) + " bytes, ";
    }
    return s + "the limit is " + std::to_string(kMaxMessage) + " bytes)";
}

// The name as md5sum writes it; `escaped` tells whether the line needs its leading backslash.
std::string EscapeName(const std::string& name, bool& escaped) {
    std::string out;
    escaped = false;
    for (char ch : name) {
        switch (ch) {
        case '\\':
            out += "\\\\";
            escaped = true;
            break;
        case '\n':
            out += "\\n";
            escaped = true;
            break;
        case '\r':
            out += "\\r";
            escaped = true;
            break;
        default:
            out += ch;
            break;
        }
    }
    return out;
}

bool DigestOne(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& line) {
    std::string error;
    if (path != "-") {
        bool regular = false;
        std::uint64_t size = 0;
        if (!RegularFileSize(path, regular, size, error)) {
            Fail(path, error);
            return false;
        }
        if (regular && size > kMaxMessage) {
            Fail(path, TooLarge(size));
            return false;
        }
    }
    if (!ReadWholeFile(path, bytes, error, kMaxMessage)) {
        Fail(path, error == "file too large" ? TooLarge(0) : error);
        return false;
    }
    unsigned char digest[NIMBREL_DIGEST_SIZE];
    GetMD5(bytes.data(), static_cast<int>(bytes.size()), digest);

    static const char kDigits[] = "0123456789abcdef";
    bool escaped = false;
    const std::string name = EscapeName(path, escaped);
    line.clear();
    if (escaped) {
        line += '\\';
    }
    for (unsigned char b : digest) {
        line += kDigits[b >> 4];
        line += kDigits[b & 15];
    }
    line += "  ";
    line += name;
    line += '\n';
    return true;
}

} // namespace

int RunMd5(const Args& args) {
    if (args.empty()) {
        std::fprintf(stderr, "usage: dbpftool md5 FILE...   ('-' is standard input)\n");
        return 2;
    }
    int status = 0;
    std::vector<std::uint8_t> bytes;
    std::string line;
    for (const std::string& path : args) {
        if (DigestOne(path, bytes, line)) {
            std::fputs(line.c_str(), stdout);
        } else {
            status = 1;
        }
        // Keep the lines and the error reports in order when both go to one place.
        std::fflush(stdout);
    }
    if (std::ferror(stdout) != 0) {
        return Fail("standard output", "write error");
    }
    return status;
}

} // namespace dbpftool
