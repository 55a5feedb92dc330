// Canonical and relative forms of Windows paths, by text alone.
//
// Only the backslash separates components; a forward slash is an ordinary character, as in
// the shell's own functions. A path starts with one of these roots:
//
//   C:\a\b     drive root "C:\"          .. never climbs above it
//   C:a\b      drive-relative "C:"       leading .. components are kept
//   \a\b       root of the current drive .. never climbs above it
//   \\srv\sh   network share             .. never climbs above the server
//   a\b        none (relative)           leading .. components are kept
//
// Canonicalize:
//   ""                  => "\"
//   "C:"                => "C:\"
//   "C:\a\.\b\..\c"     => "C:\a\c"
//   "C:\a\..\..\x"      => "C:\x"           (.. above the root is dropped)
//   "C:\a\b\"           => "C:\a\b\"        (a trailing backslash stays)
//   "C:\a\b\.."         => "C:\a"           ("C:\a\.." gives the root "C:\")
//   "\\srv\sh\..\x"     => "\\srv\x"
//   "a\..\..\b"         => "..\b"
//
// RelativePathTo compares components without regard to ASCII case and treats the drive, the
// rooted "\" and the network share as the first component; the paths need at least that one
// in common. The result starts with "." when to lies at or below from, else with "..":
//   C:\a   -> C:\a\b\c.txt   ".\b\c.txt"
//   C:\a   -> C:\x\y.txt     "..\x\y.txt"
//   C:\a\  -> C:\a\b\        ".\b\"           (from's trailing backslash is not a component)
//   C:\a   -> D:\y.txt       fails
#include "path_text.h"

#include <cstring>
#include <string>
#include <vector>

namespace path_text {

namespace {

constexpr std::size_t kMaxPath = 260;

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char Fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i]))
            return false;
    return true;
}

std::vector<std::string> SplitComponents(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t sep = text.find('\\', start);
        if (sep == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, sep - start));
        start = sep + 1;
    }
}

bool Emit(char* out, const std::string& result) {
    if (result.size() >= kMaxPath) {
        out[0] = '\0';
        return false;
    }
    std::memcpy(out, result.c_str(), result.size() + 1);
    return true;
}

} // namespace

bool Canonicalize(char* out, const char* path) {
    if (!out)
        return false;
    out[0] = '\0';
    if (!path)
        return false;
    std::string text(path);
    if (text.empty())
        return Emit(out, "\\");

    // The root, and whether .. may climb out of the text (only without a fixed root).
    std::string root;
    bool fixedRoot = false;
    std::size_t pos = 0;
    if (text.size() >= 2 && IsLetter(text[0]) && text[1] == ':') {
        if (text.size() == 2 || text[2] == '\\') {
            root = text.substr(0, 2) + "\\";
            fixedRoot = true;
            pos = text.size() == 2 ? 2 : 3;
        } else {
            root = text.substr(0, 2);
            pos = 2;
        }
    } else if (text.compare(0, 2, "\\\\") == 0) {
        // The server name belongs to the root: .. stops below it.
        std::size_t sep = text.find('\\', 2);
        root = sep == std::string::npos ? text : text.substr(0, sep + 1);
        fixedRoot = true;
        pos = root.size();
    } else if (text[0] == '\\') {
        root = "\\";
        fixedRoot = true;
        pos = 1;
    }

    std::string rest = text.substr(pos);
    std::vector<std::string> parts = SplitComponents(rest);
    // A trailing backslash leaves an empty last part; it is kept as the trailing separator.
    bool trailing = parts.size() > 1 && parts.back().empty();
    if (trailing || rest.empty())
        parts.pop_back();

    std::vector<std::string> kept;
    for (const std::string& part : parts) {
        if (part == ".")
            continue;
        if (part == "..") {
            if (!kept.empty() && kept.back() != "..")
                kept.pop_back();
            else if (!fixedRoot)
                kept.push_back(part);
            continue;
        }
        kept.push_back(part);
    }

    std::string result = root;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i > 0)
            result += '\\';
        result += kept[i];
    }
    if (trailing && !kept.empty())
        result += '\\';
    return Emit(out, result);
}

namespace {

struct Components {
    std::vector<std::string> parts; // the first one is the root when the path has one
    bool trailing = false;          // the text ended with a backslash
};

// "C:\a\b" gives C:, a, b; "C:a" gives C:, a; "\a" gives \, a; "\\srv\sh\a" gives
// \\srv\sh, a; "a\b" gives a, b. Empty components of doubled backslashes stay.
Components Parse(const std::string& text) {
    Components c;
    std::string rest = text;
    if (text.size() >= 2 && IsLetter(text[0]) && text[1] == ':') {
        c.parts.push_back(text.substr(0, 2));
        rest = text.substr(text.size() > 2 && text[2] == '\\' ? 3 : 2);
    } else if (text.compare(0, 2, "\\\\") == 0) {
        std::size_t server = text.find('\\', 2);
        std::size_t share = server == std::string::npos ? server : text.find('\\', server + 1);
        c.parts.push_back(text.substr(0, share));
        rest = share == std::string::npos ? std::string() : text.substr(share + 1);
    } else if (!text.empty() && text[0] == '\\') {
        c.parts.push_back("\\");
        rest = text.substr(1);
    }
    if (!rest.empty()) {
        std::vector<std::string> more = SplitComponents(rest);
        if (more.size() > 1 && more.back().empty()) {
            more.pop_back();
            c.trailing = true;
        }
        c.parts.insert(c.parts.end(), more.begin(), more.end());
    }
    return c;
}

} // namespace

bool RelativePathTo(char* out, const char* from, bool fromIsDir, const char* to, bool toIsDir) {
    if (!out)
        return false;
    out[0] = '\0';
    if (!from || !to || !*from || !*to)
        return false;

    Components base = Parse(from);
    Components target = Parse(to);
    // A file's directory is the base; a file's name is appended after the common part.
    if (!fromIsDir && !base.trailing && base.parts.size() > 1)
        base.parts.pop_back();
    std::string fileName;
    if (!toIsDir && !target.trailing && target.parts.size() > 1) {
        fileName = target.parts.back();
        target.parts.pop_back();
    }

    std::size_t common = 0;
    while (common < base.parts.size() && common < target.parts.size() &&
           EqualNoCase(base.parts[common], target.parts[common]))
        ++common;
    if (common == 0)
        return false;

    std::string result;
    std::size_t ups = base.parts.size() - common;
    if (ups == 0) {
        result = ".";
    } else {
        for (std::size_t i = 0; i < ups; ++i)
            result += i == 0 ? ".." : "\\..";
    }
    for (std::size_t i = common; i < target.parts.size(); ++i)
        result += "\\" + target.parts[i];
    if (!fileName.empty())
        result += "\\" + fileName;
    else if (target.trailing)
        result += '\\';
    return Emit(out, result);
}

} // namespace path_text
