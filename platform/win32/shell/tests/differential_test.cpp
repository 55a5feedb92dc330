// The portable text logic behind the POSIX path stand-ins, compared with the real functions:
// PathCanonicalizeA, PathRelativePathToA, PathGetArgsA, PathRemoveArgsA, PathUnquoteSpacesA
// (shlwapi) and _splitpath_s (the C runtime). Built for Windows only: there the real functions
// are the witness (Wine's, when the tests run under Wine). Natively the stand-ins are this
// logic, and nothing could tell them apart.
//
// The inputs are drawn with a fixed seed from a grammar of path pieces: drives, drive-relative
// prefixes, network servers and shares, device prefixes (\\.\ and \\?\), single, doubled and
// trailing separators, forward slashes, ".", ".." and other names made of dots and blanks in
// every position, names with dots and blanks, quotes and arguments for the command-line
// functions, and lengths around 259 and 260. Every answer must agree, except for inputs left
// out by one of the named rules below, each with its reason; the count of each rule is printed.
//
// Reading outside the buffers is found, not assumed: the real function is called three times
// with the stack below the caller filled with different patterns (zeros, and "x" characters
// between zeros at two phases). A function that reads only its own texts and the memory it
// writes gives the same answer all three times; one whose answer changes has read memory it
// never wrote. The zero-filled call is the one compared, so a scan that runs past the end
// meets a zero there, as the portable logic's end of text.
#include "path_text.h"
#include "shell_logic.h"

#include <windows.h>

#include <shlwapi.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kSeed = 20261208u;

// ---------------------------------------------------------------------------------------------
// The grammar

class Grammar {
public:
    explicit Grammar(std::uint32_t seed) : m_rng(seed) {}

    // A path: a root, components joined by separators, an ending, sometimes stretched to a
    // length around MAX_PATH.
    std::string Path() {
        static const char* const kRoots[] = {
            "",
            "",
            "",
            "C:",
            "c:",
            "Z:",
            "C:\\",
            "C:\\",
            "z:\\",
            "C:/",
            "\\",
            "\\",
            "/",
            "C:\\\\",
            "C:.\\",
            "Z:.\\",
            "C:..\\",
            ".\\",
            "..\\",
            "..\\..\\",
            "\\\\server\\share\\",
            "\\\\server\\share",
            "\\\\server\\",
            "\\\\server",
            "\\\\Server\\Share\\",
            "//server/share/",
            "\\\\",
            "\\\\\\",
            "\\\\.\\",
            "\\\\?\\",
            "\\\\.\\pipe\\",
            "\\\\?\\C:\\",
            "\\\\?\\UNC\\server\\share\\",
            "\\\\.\\C:\\",
            "\\\\server\\\\share\\",
            "\\\\s\\",
        };
        std::string text = OneOf(kRoots);
        const std::size_t count = Pick(6);
        for (std::size_t i = 0; i < count; ++i) {
            if (!text.empty() && !EndsWithSeparatorOrColon(text))
                text += Separator();
            text += Name();
        }
        static const char* const kEnds[] = {"",      "",    "",      "\\",     "/",
                                            "\\\\",  "\\.", "\\..",  ".",      "\\. ",
                                            "\\.. ", "..",  "\\...", "\\..\\", "\\.\\"};
        text += OneOf(kEnds);
        if (Chance(15))
            text = Stretch(text);
        return text;
    }

    // A component name.
    std::string Name() {
        static const char* const kNames[] = {
            "a",     "b",    "dir", "Sub", "x.txt", "name.ext", "a b", "a.b.c", "file.tar.gz",
            "x y.z", "a.",   ".a",  "..a", "a..",   ".",        ".",   "..",    "..",
            "...",   "....", ". ",  ".. ", " ..",   " .",       ". .", "A",     "DIR",
        };
        return OneOf(kNames);
    }

    std::string Separator() {
        static const char* const kSeparators[] = {"\\", "\\",   "\\",  "\\",  "\\",
                                                  "/",  "\\\\", "/\\", "\\/", "//"};
        return OneOf(kSeparators);
    }

    // A pair of paths for PathRelativePathToA, related more often than not.
    void RelativePair(std::string* from, std::string* to) {
        std::string base = Path();
        switch (Pick(9)) {
        case 0: // below the base
            *from = base;
            *to = base + Separator() + Name() + (Chance(50) ? Separator() + Name() : "");
            break;
        case 1: { // beside the base
            *from = base;
            std::size_t cut = base.find_last_of("\\/");
            *to = (cut == std::string::npos ? std::string() : base.substr(0, cut + 1)) + Name();
            break;
        }
        case 2: // the same text, or with a trailing separator
            *from = base;
            *to = Chance(50) ? base : base + Separator();
            break;
        case 3: // the base given with a trailing separator
            *from = base + "\\";
            *to = base + "\\" + Name();
            break;
        case 4: { // another case
            *from = base;
            *to = base;
            for (char& c : *to)
                c = Chance(50) && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
            *to += "\\" + Name();
            break;
        }
        case 5: { // many short components, so that the ".." parts fill the result
            std::string root = Chance(50) ? "C:\\" : "\\\\server\\share\\";
            *from = root;
            const std::size_t n = 40 + Pick(55);
            for (std::size_t i = 0; i < n && from->size() < 255; ++i)
                *from += Chance(90) ? "a\\" : "bb\\";
            *to = root + (Chance(50) ? "x\\" : "") + std::string(Pick(120), 'y');
            break;
        }
        default: // unrelated
            *from = base;
            *to = Path();
            break;
        }
    }

    DWORD Attributes() {
        static const DWORD kAttributes[] = {0, FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_ARCHIVE,
                                            FILE_ATTRIBUTE_DIRECTORY,
                                            FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY};
        return kAttributes[Pick(5)];
    }

    // A command line: a program path (bare, quoted or with quotes inside) and arguments.
    std::string CommandLine() {
        std::string text;
        if (Chance(10))
            text += Chance(50) ? " " : "  ";
        switch (Pick(5)) {
        case 0:
            text += Path();
            break;
        case 1:
        case 2:
            text += "\"" + Path() + "\"";
            break;
        case 3: {
            std::string p = Path();
            text += p.substr(0, p.size() / 2) + "\"" + p.substr(p.size() / 2);
            if (Chance(50))
                text += "\"";
            break;
        }
        default:
            text += "C:\\Program Files\\app " + Name() + ".exe";
            break;
        }
        static const char* const kGaps[] = {" ", " ", " ", "  ", "   ", "\t", " \t"};
        static const char* const kArgs[] = {
            "/a",
            "-b",
            "x",
            "\"x y\"",
            "\"\"",
            "\"",
            "a\"b c\"d",
            "/out:\"C:\\My Files\"",
            "--long=v",
            "C:\\dir\\f.txt",
            "\"C:\\a b\\c\"",
            "-",
        };
        const std::size_t count = Pick(5);
        for (std::size_t i = 0; i < count; ++i)
            text += std::string(OneOf(kGaps)) + OneOf(kArgs);
        if (Chance(10))
            text += Chance(50) ? " " : "  ";
        if (Chance(10))
            text = Stretch(text);
        return text;
    }

    // Characters that matter to the command-line functions and the split, at random.
    std::string Soup(std::size_t i) {
        static const char kAlphabet[] = {' ', ' ', '"',  '\\',   '/',    '.',    ':',
                                         'C', 'x', '\t', '\x80', '\xE9', '\xFF', '-'};
        const std::size_t length = Pick(i % 10 == 0 ? 300 : 24);
        std::string s;
        for (std::size_t k = 0; k < length; ++k)
            s += kAlphabet[Pick(sizeof kAlphabet)];
        return s;
    }

    std::size_t Pick(std::size_t n) { return static_cast<std::size_t>(m_rng() % n); }
    bool Chance(int percent) { return Pick(100) < static_cast<std::size_t>(percent); }

private:
    template <std::size_t N> const char* OneOf(const char* const (&items)[N]) {
        return items[Pick(N)];
    }

    static bool EndsWithSeparatorOrColon(const std::string& s) {
        const char c = s.back();
        return c == '\\' || c == '/' || c == ':';
    }

    // The text grown (by a long name at a separator, or at the end) to a length around
    // MAX_PATH.
    std::string Stretch(const std::string& text) {
        static const std::size_t kLengths[] = {250, 255, 256, 258, 259, 259, 259,
                                               260, 260, 260, 261, 262, 300};
        const std::size_t target = kLengths[Pick(sizeof kLengths / sizeof kLengths[0])];
        if (text.size() + 1 >= target)
            return text;
        std::string name(target - text.size() - 1, 'p');
        if (Chance(30) && name.size() > 4)
            name[name.size() - 4] = '.';
        std::size_t at = text.find_last_of('\\');
        if (at == std::string::npos || Chance(30))
            return text + "\\" + name;
        return text.substr(0, at + 1) + name + "\\" + text.substr(at + 1);
    }

    std::mt19937 m_rng;
};

// ---------------------------------------------------------------------------------------------
// Calling the real functions

// Fills the stack below the caller's frame, where the next call's frames will lie: zero, or
// 'x' at every fourth byte from the given phase (so that, read as 8-bit or 16-bit characters,
// an "x" comes soon and a zero right after it).
__attribute__((noinline)) void PoisonStack(int phase) {
    volatile unsigned char area[16384];
    for (std::size_t i = 0; i < sizeof area; ++i)
        area[i] = (phase >= 0 && i % 4 == static_cast<std::size_t>(phase)) ? 'x' : 0;
}

struct Answer {
    BOOL ok = FALSE;
    std::string text;
    bool wroteOutside = false;
    bool operator==(const Answer& o) const {
        return ok == o.ok && text == o.text && wroteOutside == o.wroteOutside;
    }
};

// The result buffer of MAX_PATH bytes inside guard bytes that must stay as they are.
struct Output {
    static constexpr std::size_t kGuard = 64;
    char bytes[kGuard + MAX_PATH + kGuard];
    Output() { std::memset(bytes, 0x5A, sizeof bytes); }
    char* Buffer() { return bytes + kGuard; }
    Answer Read(BOOL ok) const {
        Answer a;
        a.ok = ok;
        const char* buffer = bytes + kGuard;
        a.text.assign(buffer, strnlen(buffer, MAX_PATH));
        for (std::size_t i = 0; i < kGuard; ++i)
            a.wroteOutside |= bytes[i] != 0x5A || bytes[kGuard + MAX_PATH + i] != 0x5A;
        return a;
    }
};

// The three calls; returns whether their answers agree, with the zero-filled one in *answer.
template <typename Call> bool CallThreeWays(Call call, Answer* answer) {
    Answer answers[3];
    for (int phase = -1; phase <= 2; phase += (phase < 0 ? 1 : 2)) {
        Output out;
        PoisonStack(phase);
        BOOL ok = call(out.Buffer());
        answers[phase < 0 ? 0 : phase == 0 ? 1 : 2] = out.Read(ok);
    }
    *answer = answers[0];
    return answers[0] == answers[1] && answers[0] == answers[2];
}

Answer PortableCanonical(const std::string& text) {
    Output out;
    BOOL ok = path_text::Canonicalize(out.Buffer(), text.c_str()) ? TRUE : FALSE;
    return out.Read(ok);
}

Answer PortableRelative(const std::string& from, DWORD fromAttributes, const std::string& to,
                        DWORD toAttributes) {
    Output out;
    BOOL ok = path_text::RelativePathTo(out.Buffer(), from.c_str(),
                                        (fromAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                                        to.c_str(), (toAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                  ? TRUE
                  : FALSE;
    return out.Read(ok);
}

std::string Describe(const Answer& a) {
    if (a.wroteOutside)
        return "(wrote outside its buffer)";
    return (a.ok ? "TRUE \"" : "FALSE \"") + a.text + "\"";
}

// ---------------------------------------------------------------------------------------------
// Counting

class Tally {
public:
    explicit Tally(const char* function) : m_function(function) {}

    void Compared() { ++m_compared; }
    void Excluded(const char* rule) { ++m_excluded[rule]; }
    void Differs(const std::string& what) {
        if (m_examples.size() < 40)
            m_examples.push_back(what);
        ++m_differing;
    }

    // Prints the counts and fails the test for any difference.
    void Finish(std::size_t atLeast) {
        std::printf("%s: %zu compared, %zu differ", m_function, m_compared, m_differing);
        for (const auto& rule : m_excluded)
            std::printf("; excluded by %s: %zu", rule.first.c_str(), rule.second);
        std::printf("\n");
        std::fflush(stdout);
        EXPECT_GE(m_compared, atLeast) << m_function;
        std::string examples;
        for (const std::string& e : m_examples)
            examples += "  " + e + "\n";
        EXPECT_EQ(m_differing, 0u) << m_function << " differs on:\n" << examples;
    }

private:
    const char* m_function;
    std::size_t m_compared = 0, m_differing = 0;
    std::map<std::string, std::size_t> m_excluded;
    std::vector<std::string> m_examples;
};

bool EndsWith(const std::string& s, const char* tail) {
    const std::size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// ---------------------------------------------------------------------------------------------
// PathCanonicalizeA

// Rule CanonicalizeReadsPastTheText: the real function gives different answers for the same
// text depending on what lies in memory it never wrote. Its scan steps over the terminating
// zero of its working copy when ".." at the very end of the text sends the result back to the
// start ("a\..", "\.."). What it then answers is whatever followed in memory; no caller can
// rely on it. The portable logic ends the text there.
constexpr const char* kCanonicalizeReadsPastTheText = "CanonicalizeReadsPastTheText";

void CompareCanonical(const std::string& text, Tally& tally) {
    // Near the limit the step past the end leaves the working copy of MAX_PATH characters
    // altogether and reads the caller's stack, which no pattern of ours covers: such texts are
    // never given to the real function.
    if (EndsWith(text, "..") && text.size() + 4 >= MAX_PATH) {
        tally.Excluded(kCanonicalizeReadsPastTheText);
        return;
    }
    Answer real;
    const bool stable =
        CallThreeWays([&](char* out) { return PathCanonicalizeA(out, text.c_str()); }, &real);
    if (!stable) {
        // The rule covers the one known way; anything else unstable is a finding of its own.
        if (EndsWith(text, "..")) {
            tally.Excluded(kCanonicalizeReadsPastTheText);
            return;
        }
        tally.Differs("\"" + text + "\": the real answer depends on memory outside the text");
        return;
    }
    tally.Compared();
    const Answer portable = PortableCanonical(text);
    if (!(portable == real))
        tally.Differs("\"" + text + "\": real " + Describe(real) + ", portable " +
                      Describe(portable));
}

TEST(ShellDifferential, PathCanonicalizeA) {
    Grammar grammar(kSeed);
    Tally tally("PathCanonicalizeA");
    std::vector<std::string> fixed = {"",          "\\",
                                      "C:",        "a\\..",
                                      "\\..",      "C:\\..",
                                      "..\\..\\x", "\\\\.\\pipe\\x",
                                      "C:.\\x",    "Z:.\\",
                                      "C:\\a\\.",  "C:\\a\\...\\c",
                                      "a\\.. \\b", "\\\\s\\sh\\..\\..\\x"};
    for (std::size_t length : {258u, 259u, 260u, 261u}) {
        fixed.push_back("C:\\" + std::string(length - 3, 'a'));
        fixed.push_back("C:\\" + std::string(length - 6, 'a') + "\\..");
    }
    for (const std::string& text : fixed)
        CompareCanonical(text, tally);
    for (int i = 0; i < 14000; ++i)
        CompareCanonical(grammar.Path(), tally);
    tally.Finish(13000);
}

// ---------------------------------------------------------------------------------------------
// PathRelativePathToA

// Rule RelativeTextOf260Bytes: a text of MAX_PATH bytes or more is never given to the real
// function. It converts each text into a buffer of MAX_PATH characters without checking that
// the conversion succeeded, and then reads the unterminated buffer past its end. The portable
// logic refuses such texts, as PathCanonicalizeA does.
constexpr const char* kRelativeTextOf260Bytes = "RelativeTextOf260Bytes";
// Rule RelativeResultOverflows: nor is a base with so many components that the ".." parts
// alone would not fit the MAX_PATH characters of the result: the real function appends them
// without a check, past the end of its buffer. The portable logic fails there.
constexpr const char* kRelativeResultOverflows = "RelativeResultOverflows";
// Rule RelativeReadsPastTwoCharacterText: the real function's answer depends on memory it never
// wrote. A common prefix of two characters counts as three (so that "C:" covers "C:\"); when
// the base or the target is only those two characters, the function reads one past its end.
// The portable logic ends the text there.
constexpr const char* kRelativeReadsPastTwoCharacterText = "RelativeReadsPastTwoCharacterText";

// Whether the ".." parts could exceed MAX_PATH characters: one for each backslash of from
// after the common prefix of the two directories, and one more. The shell's own
// PathRemoveFileSpecA and PathCommonPrefixA tell the directories and the prefix; both keep to
// their texts.
bool UpsMayOverflow(const std::string& from, DWORD fromAttributes, const std::string& to,
                    DWORD toAttributes) {
    char fromDir[MAX_PATH], toDir[MAX_PATH];
    std::memcpy(fromDir, from.c_str(), from.size() + 1);
    std::memcpy(toDir, to.c_str(), to.size() + 1);
    if (!(fromAttributes & FILE_ATTRIBUTE_DIRECTORY))
        PathRemoveFileSpecA(fromDir);
    if (!(toAttributes & FILE_ATTRIBUTE_DIRECTORY))
        PathRemoveFileSpecA(toDir);
    const std::size_t prefix = static_cast<std::size_t>(PathCommonPrefixA(fromDir, toDir, nullptr));
    const std::size_t rest = prefix < from.size() ? from.size() - prefix : 0;
    const std::size_t ups =
        static_cast<std::size_t>(std::count(from.end() - rest, from.end(), '\\')) + 1;
    return 3 * ups - 1 >= MAX_PATH;
}

void CompareRelative(const std::string& from, DWORD fromAttributes, const std::string& to,
                     DWORD toAttributes, Tally& tally) {
    const std::string what = "\"" + from + "\" (" + std::to_string(fromAttributes) + ") -> \"" +
                             to + "\" (" + std::to_string(toAttributes) + ")";
    if (from.size() >= MAX_PATH || to.size() >= MAX_PATH) {
        tally.Excluded(kRelativeTextOf260Bytes);
        return;
    }
    if (UpsMayOverflow(from, fromAttributes, to, toAttributes)) {
        tally.Excluded(kRelativeResultOverflows);
        return;
    }
    Answer real;
    const bool stable = CallThreeWays(
        [&](char* out) {
            return PathRelativePathToA(out, from.c_str(), fromAttributes, to.c_str(), toAttributes);
        },
        &real);
    if (!stable) {
        if (from.size() == 2 || to.size() == 2) {
            tally.Excluded(kRelativeReadsPastTwoCharacterText);
            return;
        }
        tally.Differs(what + ": the real answer depends on memory outside the texts");
        return;
    }
    tally.Compared();
    const Answer portable = PortableRelative(from, fromAttributes, to, toAttributes);
    if (!(portable == real))
        tally.Differs(what + ": real " + Describe(real) + ", portable " + Describe(portable));
}

TEST(ShellDifferential, PathRelativePathToA) {
    Grammar grammar(kSeed + 1);
    Tally tally("PathRelativePathToA");
    const char* const fixed[][2] = {
        {"\\\\server\\share", "\\\\server\\share\\dir"},
        {"C:\\\\a", "C:\\\\a\\b"},
        {"C:\\a\\", "C:\\a\\b\\c.txt"},
        {"C:/a", "C:/a/b"},
        {"a\\b", "a\\c"},
        {"C:", "C:\\x"},
        {"C:\\a", "C:"},
    };
    const DWORD sides[] = {0, FILE_ATTRIBUTE_DIRECTORY};
    for (const auto& pair : fixed)
        for (DWORD a : sides)
            for (DWORD b : sides)
                CompareRelative(pair[0], a, pair[1], b, tally);
    for (int i = 0; i < 9000; ++i) {
        std::string from, to;
        grammar.RelativePair(&from, &to);
        // Both attributes on both sides, each as one of several attribute sets.
        CompareRelative(from, grammar.Attributes() & ~FILE_ATTRIBUTE_DIRECTORY, to,
                        grammar.Attributes() & ~FILE_ATTRIBUTE_DIRECTORY, tally);
        CompareRelative(from, grammar.Attributes() | FILE_ATTRIBUTE_DIRECTORY, to,
                        grammar.Attributes() & ~FILE_ATTRIBUTE_DIRECTORY, tally);
        CompareRelative(from, grammar.Attributes() & ~FILE_ATTRIBUTE_DIRECTORY, to,
                        grammar.Attributes() | FILE_ATTRIBUTE_DIRECTORY, tally);
        CompareRelative(from, grammar.Attributes() | FILE_ATTRIBUTE_DIRECTORY, to,
                        grammar.Attributes() | FILE_ATTRIBUTE_DIRECTORY, tally);
    }
    tally.Finish(30000);
}

// ---------------------------------------------------------------------------------------------
// PathGetArgsA, PathRemoveArgsA, PathUnquoteSpacesA

std::vector<char> Buffer(const std::string& text) {
    std::vector<char> b(text.begin(), text.end());
    b.push_back('\0');
    return b;
}

void CompareCommandLine(const std::string& text, Tally& args, Tally& remove, Tally& unquote) {
    std::vector<char> real = Buffer(text), portable = Buffer(text);
    const auto realOffset = PathGetArgsA(real.data()) - real.data();
    const auto portableOffset = shell_logic::FindArgs(portable.data()) - portable.data();
    args.Compared();
    if (realOffset != portableOffset)
        args.Differs("\"" + text + "\": real at " + std::to_string(realOffset) + ", portable at " +
                     std::to_string(portableOffset));

    PathRemoveArgsA(real.data());
    shell_logic::CutArgs(portable.data());
    remove.Compared();
    if (std::strcmp(real.data(), portable.data()) != 0)
        remove.Differs("\"" + text + "\": real \"" + real.data() + "\", portable \"" +
                       portable.data() + "\"");

    for (const std::string& quoted : {text, "\"" + text + "\"", "\"" + text}) {
        real = Buffer(quoted);
        portable = Buffer(quoted);
        PathUnquoteSpacesA(real.data());
        shell_logic::UnquoteSpaces(portable.data());
        unquote.Compared();
        if (std::strcmp(real.data(), portable.data()) != 0)
            unquote.Differs("\"" + quoted + "\": real \"" + real.data() + "\", portable \"" +
                            portable.data() + "\"");
    }
}

TEST(ShellDifferential, CommandLineFunctions) {
    Grammar grammar(kSeed + 2);
    Tally args("PathGetArgsA"), remove("PathRemoveArgsA"), unquote("PathUnquoteSpacesA");
    for (const char* text : {"", " ", "\"", "a\"b c", "app.exe  ", " lead", "x\ty"})
        CompareCommandLine(text, args, remove, unquote);
    for (int i = 0; i < 16000; ++i)
        CompareCommandLine(grammar.CommandLine(), args, remove, unquote);
    for (std::size_t i = 0; i < 4000; ++i)
        CompareCommandLine(grammar.Soup(i), args, remove, unquote);
    args.Finish(20000);
    remove.Finish(20000);
    unquote.Finish(60000);
}

// ---------------------------------------------------------------------------------------------
// _splitpath_s

// Windows documents that _splitpath_s empties every buffer when one is too small for its part
// (ERANGE); for an invalid argument (EINVAL) it promises nothing about them. Both are compared
// in full, with the untouched state of every buffer.
void IgnoreInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {}

struct Sizes {
    std::size_t drive, dir, name, ext;
    int nullBuffer = -1;      // a part whose buffer is null although its size is not 0
    int zeroSizedBuffer = -1; // a part given a buffer with the size 0
};

struct Split {
    int rc = 0;
    std::string parts[4];
    bool operator==(const Split& o) const {
        return rc == o.rc && std::equal(parts, parts + 4, o.parts);
    }
};

// The buffers start as '#' bytes, so that a buffer left alone reads as '#'s to its size.
Split RunSplit(bool real, const char* text, const Sizes& sizes) {
    char buffers[4][300];
    std::memset(buffers, '#', sizeof buffers);
    std::size_t size[4] = {sizes.drive, sizes.dir, sizes.name, sizes.ext};
    if (sizes.zeroSizedBuffer >= 0)
        size[sizes.zeroSizedBuffer] = 0;
    char* p[4];
    for (int i = 0; i < 4; ++i)
        p[i] =
            (size[i] && i != sizes.nullBuffer) || i == sizes.zeroSizedBuffer ? buffers[i] : nullptr;
    Split s;
    if (real)
        s.rc = _splitpath_s(text, p[0], size[0], p[1], size[1], p[2], size[2], p[3], size[3]);
    else
        s.rc = shell_logic::SplitPathS(text, p[0], size[0], p[1], size[1], p[2], size[2], p[3],
                                       size[3]);
    for (int i = 0; i < 4; ++i) {
        if (size[i])
            s.parts[i].assign(buffers[i], strnlen(buffers[i], size[i]));
    }
    return s;
}

std::string Describe(const Split& s) {
    return "rc " + std::to_string(s.rc) + " [" + s.parts[0] + "][" + s.parts[1] + "][" +
           s.parts[2] + "][" + s.parts[3] + "]";
}

void CompareSplit(const char* text, const Sizes& sizes, Tally& tally) {
    const Split real = RunSplit(true, text, sizes);
    const Split portable = RunSplit(false, text, sizes);
    tally.Compared();
    if (!(real == portable))
        tally.Differs((text ? "\"" + std::string(text) + "\"" : std::string("null")) + " (" +
                      std::to_string(sizes.drive) + "/" + std::to_string(sizes.dir) + "/" +
                      std::to_string(sizes.name) + "/" + std::to_string(sizes.ext) +
                      (sizes.nullBuffer >= 0 ? ", null " + std::to_string(sizes.nullBuffer) : "") +
                      (sizes.zeroSizedBuffer >= 0
                           ? ", size 0 for " + std::to_string(sizes.zeroSizedBuffer)
                           : "") +
                      "): real " + Describe(real) + ", portable " + Describe(portable));
}

TEST(ShellDifferential, SplitPath) {
    _invalid_parameter_handler previous = _set_invalid_parameter_handler(IgnoreInvalidParameter);
    Grammar grammar(kSeed + 3);
    Tally tally("_splitpath_s");
    const Sizes kPathSizes = {3, 256, 256, 256}; // what CPath gives it
    for (int i = 0; i < 16000; ++i) {
        std::string text = i % 2 ? grammar.Path() : grammar.CommandLine();
        Sizes sizes = kPathSizes;
        if (grammar.Chance(25)) {
            // Smaller buffers, and parts not asked for (no buffer, size 0).
            static const std::size_t kSmall[] = {0, 1, 2, 3, 5, 16, 256};
            sizes = {grammar.Pick(4), kSmall[grammar.Pick(7)], kSmall[grammar.Pick(7)],
                     kSmall[grammar.Pick(7)]};
        }
        if (grammar.Chance(2))
            sizes.nullBuffer = static_cast<int>(grammar.Pick(4)); // invalid unless its size is 0
        if (grammar.Chance(2))
            sizes.zeroSizedBuffer = static_cast<int>(grammar.Pick(4)); // invalid
        CompareSplit(grammar.Chance(1) ? nullptr : text.c_str(), sizes, tally);
    }
    for (std::size_t i = 0; i < 4000; ++i)
        CompareSplit(grammar.Soup(i).c_str(), kPathSizes, tally);
    _set_invalid_parameter_handler(previous);
    tally.Finish(15000);
}

} // namespace
