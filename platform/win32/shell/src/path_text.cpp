// Canonical and relative forms of Windows paths, by text alone, as the shell's
// PathCanonicalizeA and PathRelativePathToA compute them.
//
// Neither function models a path. Both are scans over characters with a few rules each, and
// callers see every quirk of those rules (a component "..b" climbs like "..", a base that ends
// in a backslash is not the same base as without it, slashes are ordinary characters). The
// stand-ins answer what the shell answers, quirks included, so that a program behaves the same
// on both targets; the Windows build compares these functions with the shell's own on tens of
// thousands of generated texts. Only where the shell reads memory it does not own (see below)
// is the answer ours.
//
// Canonicalize. A root is copied first: "\" when the text starts with a backslash, else "X:"
// and a following backslash when the second character is a colon (any first character). Then
// the rest is copied character by character, except:
//   ".\"  dropped at the start of the text and after a backslash or a colon;
//   ".."  (the two dots only: "..b" and "..." count too) directly after a backslash of the
//         result backs up over the last component of the result: the result is cut back to
//         its previous backslash, which stays and receives whatever the text has next. The
//         root "X:\" and the server of "\\server\" are never removed. When nothing is left to
//         back up to, the result restarts as "\" and the character after ".." is skipped.
// A result of two characters ending in a colon gets a backslash. Texts of MAX_PATH (260)
// characters or more are refused: the shell's working copy holds 259 and a zero.
//   ""                  => "\"
//   "C:"                => "C:\"
//   "C:\a\.\b\..\c"     => "C:\a\c"
//   "C:\a\..\..\x"      => "C:\x"           (.. above the root is dropped)
//   "C:\a\b\.."         => "C:\a"           ("C:\a\.." gives "C:\")
//   "C:\a\."            => "C:\a\."         (a trailing "." is not followed by a backslash)
//   "C:\a\..b\c"        => "C:b\c"          (the backslash after the root is gone too)
//   "C:.\x"             => "C:x"
//   "a\..\..\b"         => "\b"             (restarts at "\" and skips the next backslash)
//   "..\x"              => "..\x"           (nothing before ".." to back up over)
//   "\\srv\sh\..\x"     => "\\srv\x"
//   "\\.\pipe\x"        => "\\pipe\x"       (".\" after a backslash)
//   "C:/a/../b"         => "C:/a/../b"
// The shell's scan steps past the end of the text when ".." at the very end restarts the result
// (as in "a\.." or "\.."): it skips the terminating zero and goes on reading whatever follows.
// Here the text ends there: "a\.." gives "\".
//
// RelativePathTo, given from and to (texts of at most 259 characters):
//   1. Without the directory attribute, the last component of the text is cut off (FileSpec
//      below) by a zero written into the working copy; the rest of the name stays behind it.
//   2. The common prefix of the two (CommonPrefix below) must be non-empty.
//   3. For each component of from after the prefix, ".." (joined by backslashes); "." when
//      nothing of from is left.
//   4. The rest of the original to (its file name included) from the prefix on, starting at
//      the backslash there or at the last character of the prefix.
//   C:\a   -> C:\a\b\c.txt   ".\b\c.txt"
//   C:\a   -> C:\x\y.txt     "..\x\y.txt"
//   C:\a\  -> C:\a\b\c.txt   "\b\c.txt"        (the base's trailing backslash is its own part)
//   C:\a   -> C:\a\          ".\"
//   \\s\sh -> \\s\sh\dir     "..\..\sh\dir"   (a share is an ordinary component)
//   C:/a (file) -> C:/a/b (file)   "../a/b"   (slashes are ordinary characters: the name "/a"
//                                              is cut after "C:", and the prefix of two
//                                              characters counts as three, which starts
//                                              from inside the removed name)
//   C:\a   -> D:\y.txt       fails
// The prefix of two characters counts as three so that "C:" covers "C:\". When from or to is
// only those two characters, the shell reads one character past the end of the text; here the
// text ends there.
#include "path_text.h"

#include <cstring>
#include <string>

namespace path_text {

namespace {

constexpr std::size_t kMaxPath = 260;

// A text that reads as zero past its end, so that the scans below may look ahead as the
// shell's do without leaving it.
class Text {
public:
    explicit Text(const std::string& s) : m_p(s.data()), m_n(s.size()) {}
    Text(const char* p, std::size_t n) : m_p(p), m_n(n) {}
    char operator[](std::size_t i) const { return i < m_n ? m_p[i] : '\0'; }
    std::size_t size() const { return m_n; }
    // The position of the first c at or after i, or size().
    std::size_t Find(char c, std::size_t i) const {
        while (i < m_n && m_p[i] != c)
            ++i;
        return i;
    }
    const char* Data() const { return m_p; }

private:
    const char* m_p;
    std::size_t m_n;
};

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool Emit(char* out, const std::string& result) {
    if (result.size() >= kMaxPath) {
        out[0] = '\0';
        return false;
    }
    std::memcpy(out, result.c_str(), result.size() + 1);
    return true;
}

// "\\server\" and "\\server\share" (one backslash after the server): the part of a network
// path that ".." never removes.
bool IsServerShare(const std::string& s) {
    if (s.size() < 2 || s[0] != '\\' || s[1] != '\\')
        return false;
    bool seen = false;
    for (std::size_t i = 2; i < s.size(); ++i) {
        if (s[i] == '\\') {
            if (seen)
                return false;
            seen = true;
        }
    }
    return seen;
}

// The result of a ".." that follows a backslash of result: result cut back to the backslash
// before its last component (which stays), or restarted as "\" when there is none. Returns
// true when it restarted: the character after ".." is then skipped too.
bool BackUp(std::string& result) {
    std::size_t d = result.size(); // result[d - 1] is the backslash; result[d] reads as zero
    auto at = [&result](std::size_t i) { return i < result.size() ? result[i] : '\0'; };
    if (d > 1 && (at(d - 2) != '\\' || d > 2)) {
        if (at(d - 2) == ':' && (d > 3 || at(d - 3) == ':')) {
            // "X:\dir\.." keeps "X:\"; the backslash after a colon further in counts as one.
            d -= 2;
            while (d > 0 && at(d) != '\\')
                --d;
            d = at(d) == '\\' ? d + 1 : 0;
        } else if (at(d - 2) != ':' && !IsServerShare(result)) {
            d -= 2;
        }
    }
    while (d > 0 && at(d) != '\\')
        --d;
    if (d == 0) {
        result.assign(1, '\\');
        return true;
    }
    result.resize(d);
    return false;
}

} // namespace

bool Canonicalize(char* out, const char* path) {
    if (!out)
        return false;
    out[0] = '\0';
    if (!path)
        return false;
    const std::size_t n = std::strlen(path);
    if (n >= kMaxPath)
        return false;
    if (n == 0)
        return Emit(out, "\\");

    const Text src(path, n);
    std::string result;
    std::size_t s = 0;
    if (src[0] == '\\') {
        result += src[s++];
    } else if (src[1] == ':') {
        result += src[s++];
        result += src[s++];
        if (src[s] == '\\')
            result += src[s++];
    }
    while (s < n) {
        const char c = src[s];
        if (c == '.' && src[s + 1] == '\\' && (s == 0 || src[s - 1] == '\\' || src[s - 1] == ':')) {
            s += 2;
        } else if (c == '.' && src[s + 1] == '.' && !result.empty() && result.back() == '\\') {
            if (BackUp(result))
                ++s;
            s += 2; // past the end when ".." ended the text and restarted: the loop ends
        } else {
            result += c;
            ++s;
        }
    }
    if (result.size() == 2 && result[1] == ':')
        result += '\\';
    return Emit(out, result);
}

namespace {

// A working copy as the shell keeps it: the text, with a zero written at cut where a file's
// name was removed. What lies after that zero is still there, and a scan that starts past it
// reads it ("C:" cut from "C:/a" still holds "a" at position 3). Past the end of the text
// everything reads as zero.
class Buffer {
public:
    explicit Buffer(const std::string& text, std::size_t cut = std::string::npos)
        : m_text(text), m_cut(cut) {}
    char operator[](std::size_t i) const {
        return i == m_cut || i >= m_text.size() ? '\0' : m_text[i];
    }

private:
    const std::string& m_text;
    std::size_t m_cut;
};

// Where the last component starts: after the last backslash, or after "X:" (and its
// backslash). A leading "\" or "\\" stays. The text's end when there is no such place.
//   "C:\a\b" => 4 ("C:\a")   "C:\a" => 3   "\a" => 1   "a" => 0   "\\s\sh" => 3 ("\\s")
std::size_t FileSpec(const std::string& path) {
    std::size_t i = 0, start = 0;
    if (i < path.size() && path[i] == '\\')
        start = ++i;
    if (i < path.size() && path[i] == '\\')
        start = ++i;
    while (i < path.size()) {
        if (path[i] == '\\') {
            start = i;
        } else if (path[i] == ':') {
            start = ++i;
            if (i < path.size() && path[i] == '\\')
                ++start;
        }
        ++i;
    }
    return start;
}

// Length of the common start of a and b that ends at a component boundary of both, compared
// without regard to ASCII case. Network paths ("\\" first) share a prefix only with network
// paths. Two characters count as three.
//   "C:\a\b", "C:\a\c" => 4    "C:\ab", "C:\ac" => 3    "a", "b" => 0
std::size_t CommonPrefix(const Buffer& a, const Buffer& b) {
    std::size_t i = 0, len = 0;
    const bool uncA = a[0] == '\\' && a[1] == '\\';
    const bool uncB = b[0] == '\\' && b[1] == '\\';
    if (uncA != uncB)
        return 0;
    if (uncA)
        i = 2;
    for (;;) {
        if ((a[i] == '\0' || a[i] == '\\') && (b[i] == '\0' || b[i] == '\\'))
            len = i;
        if (a[i] == '\0' || Upper(a[i]) != Upper(b[i]))
            break;
        ++i;
    }
    return len == 2 ? 3 : len;
}

// The position after the next backslash (two when doubled) at or after i, or of the zero that
// ends the text.
std::size_t NextComponent(const Buffer& t, std::size_t i) {
    while (t[i] != '\0' && t[i] != '\\')
        ++i;
    if (t[i] == '\0')
        return i;
    if (t[i + 1] == '\\')
        ++i;
    return i + 1;
}

} // namespace

bool RelativePathTo(char* out, const char* from, bool fromIsDir, const char* to, bool toIsDir) {
    if (!out)
        return false;
    out[0] = '\0';
    if (!from || !to)
        return false;
    const std::string fromText(from), toText(to);
    if (fromText.size() >= kMaxPath || toText.size() >= kMaxPath)
        return false;

    const Buffer fromDir(fromText, fromIsDir ? std::string::npos : FileSpec(fromText));
    const Buffer toDir(toText, toIsDir ? std::string::npos : FileSpec(toText));
    const Buffer target(toText);
    const std::size_t len = CommonPrefix(fromDir, toDir);
    if (len == 0)
        return false;

    std::string result;
    std::size_t f = len;
    if (fromDir[f] == '\0')
        result = ".";
    if (fromDir[f] == '\\')
        ++f;
    while (fromDir[f] != '\0') {
        f = NextComponent(fromDir, f);
        result += fromDir[f] != '\0' ? "..\\" : "..";
    }

    std::size_t t = len;
    if (target[t] != '\0') {
        if (target[t] != '\\')
            --t;
        result += toText.substr(t);
    }
    return Emit(out, result);
}

} // namespace path_text
