// dbpftool tokens FILE TOKEN...
//
// Registers the tokens with identifiers 1..n (in the order given) and scans FILE with
// CParser::ParseFile. Each completion prints one line on standard output:
//
//     <token> TAB <end offset>
//
// where the end offset is the byte offset in FILE just past the token's last byte, that is,
// the number of file bytes read when the token was completed. The scan reads in text mode: a
// CR LF pair is one LF to the recogniser but two bytes of the file, so a token ending in that
// LF ends after both bytes, and offsets count the file's bytes, not the LFs seen. Scanning stops
// at a 0x1A byte.
//
// Tokens on the command line take the escapes \n \r \t \\ and \xHH (two hex digits), so that
// line ends and high bytes can be given; the same escapes are used to print them. Tokens the
// recogniser refuses (empty, or overlapping an earlier token) are reported on standard error
// with the reason before the scan; the scan still runs with the others, and the exit status
// is then 1.
#include "commands.h"

#include <talmoor.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

// ParseFile's message box for a file that cannot be opened comes here instead of a window; it
// holds "<file>: <reason>" and becomes the tool's usual one-line report. The file is opened
// only by ParseFile: a named pipe or a device can be opened once only (a second open of a pipe
// waits for a second writer, and a probe that opens and closes it loses what the writer
// wrote), so the tool does not look at the file first.
extern "C" AFX_CLIENT_EXPORT int AfxMessageBoxHook(const char* lpszText, UINT, UINT) {
    std::fprintf(stderr, "dbpftool: %s\n", lpszText);
    return IDOK;
}

namespace dbpftool {

namespace {

constexpr std::size_t kMaxTokens = 256;

std::vector<std::string> g_printable; // escaped text of token i + 1

// Output of the one thread that prints: without the stream's lock where the C library offers
// that.
void Write(const char* p, std::size_t n) {
#ifdef __GLIBC__
    fwrite_unlocked(p, 1, n, stdout);
#else
    std::fwrite(p, 1, n, stdout);
#endif
}

// The handler of token N + 1: prints it with the file offset where it ended. Frequent tokens
// complete every few bytes, so the line is put together here and written with one call rather
// than formatted by printf, which would cost more than the scan itself.
template <std::size_t N> void Report(CStdioFile* pFile) {
    unsigned long long end = pFile != nullptr ? pFile->GetPosition() : 0;
    const std::string& text = g_printable[N];
    char line[512];
    char* const last = line + sizeof line;
    char* p = last;
    *--p = '\n';
    do {
        *--p = static_cast<char>('0' + end % 10);
        end /= 10;
    } while (end != 0);
    *--p = '\t';
    const std::size_t tail = static_cast<std::size_t>(last - p);
    if (text.size() > sizeof line - tail) {
        Write(text.data(), text.size());
        Write(p, tail);
        return;
    }
    p -= text.size();
    std::memcpy(p, text.data(), text.size());
    Write(p, static_cast<std::size_t>(last - p));
}

template <std::size_t... N>
constexpr std::array<void (*)(CStdioFile*), sizeof...(N)> MakeHandlers(std::index_sequence<N...>) {
    return {{&Report<N>...}};
}
constexpr auto kHandlers = MakeHandlers(std::make_index_sequence<kMaxTokens>());

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Applies the escapes; false for a malformed one.
bool Unescape(const std::string& in, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out += in[i];
            continue;
        }
        if (++i == in.size())
            return false;
        switch (in[i]) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        case 'x': {
            if (in.size() - i < 3)
                return false;
            int hi = HexDigit(in[i + 1]);
            int lo = HexDigit(in[i + 2]);
            if (hi < 0 || lo < 0)
                return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

std::string Escape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\')
            out += "\\\\";
        else if (c < 0x20 || c >= 0x7F) {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

// Why CParser::Add refuses `text` after the accepted tokens: the recogniser checks the tokens
// from the last registered to the first and stops at the first conflict.
std::string RefusalReason(const std::string& text,
                          const std::vector<std::pair<int, std::string>>& accepted) {
    if (text.empty())
        return "empty token";
    for (auto it = accepted.rbegin(); it != accepted.rend(); ++it) {
        if (text.find(it->second) != std::string::npos ||
            it->second.find(text) != std::string::npos) {
            return "overlaps token " + std::to_string(it->first) + " \"" + Escape(it->second) +
                   "\" (one contains the other)";
        }
    }
    return "refused by the recogniser";
}

} // namespace

int RunTokens(const Args& args) {
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: dbpftool tokens FILE TOKEN...\n");
        return 2;
    }
    if (args.size() - 1 > kMaxTokens) {
        std::fprintf(stderr, "dbpftool: tokens: at most %zu tokens\n", kMaxTokens);
        return 2;
    }
    const std::string& file = args[0];
    CParser parser;
    std::vector<std::pair<int, std::string>> accepted;
    g_printable.clear();
    bool refused = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const int id = static_cast<int>(i);
        std::string text;
        if (!Unescape(args[i], text)) {
            std::fprintf(stderr, "dbpftool: tokens: bad escape in \"%s\"\n", args[i].c_str());
            return 2;
        }
        // The recogniser's texts end at a zero byte.
        text = text.substr(0, text.find('\0'));
        g_printable.push_back(Escape(text));
        if (parser.Add(id, text.c_str(), kHandlers[i - 1]) != 1) {
            std::fprintf(stderr, "dbpftool: token %d \"%s\": refused: %s\n", id,
                         g_printable.back().c_str(), RefusalReason(text, accepted).c_str());
            refused = true;
            continue;
        }
        accepted.emplace_back(id, text);
    }
    try {
        if (parser.ParseFile(file.c_str()) != 1)
            return 1; // the hook above has reported why
    } catch (CFileException* e) {
        char message[1024];
        if (!e->GetErrorMessage(message, sizeof message))
            message[0] = '\0';
        e->Delete();
        std::fflush(stdout);
        std::fprintf(stderr, "dbpftool: %s\n", message);
        return 1;
    }
    if (std::fflush(stdout) != 0)
        return Fail("stdout", "write error");
    return refused ? 1 : 0;
}

} // namespace dbpftool
