// CPath splitting and the argument parser on arbitrary text.
//
// Byte 0 chooses the split (directory mode, command line) and byte 1 the argument edits; the
// rest, cut at its first zero, is the text. Beside memory errors (the sanitizers), the
// fuzzer checks what the split promises: no forward slash in the directory, no dot in the
// extension name, no extension without title, components that rebuild the directory, and
// an object that is either split or (for a refused text) wholly empty.
#include <corvane.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

std::string S(const CString& s) {
    return std::string(static_cast<const char*>(s));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const int bDirectory = data[0] & 1;
    const int bArgs = (data[0] >> 1) & 1;
    const unsigned edits = data[1];
    std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
    text = text.c_str(); // up to the first zero

    CPath p(text.c_str(), bDirectory, bArgs);
    std::string dir = S(p.GetDir(-1));
    std::string title = S(p.GetFileTitle());
    std::string ext = S(p.GetExtName());
    Require(dir.find('/') == std::string::npos);
    Require(ext.find('.') == std::string::npos);
    Require(title.empty() ? ext.empty() : true);
    Require(p.IsRelativePath() == 0 || p.IsRelativePath() == 1);
    if (text.size() > 259)
        Require(S(p.GetPath(1, 1)).empty() && S(p.GetPath(1, 0)).empty());

    // The components, each closed by a backslash, give the directory back after the skipped
    // root (one backslash) or network prefix (two).
    std::string rebuilt;
    if (!p.IsRelativePath() && dir.size() >= 2 && dir[0] == '\\' && dir[1] == '\\')
        rebuilt = "\\\\";
    else if (!p.IsRelativePath() && !dir.empty() && dir[0] == '\\')
        rebuilt = "\\";
    int count = p.GetDirCount();
    for (int i = 0; i < count; ++i)
        rebuilt += S(p.GetDir(i)) + "\\";
    Require(rebuilt == dir);
    Require(S(p.GetDir(count)).empty());
    Require(S(p.GetPath(0, 0)) == S(p.GetLocation()) + S(p.GetFileName()));
    Require(std::strcmp(static_cast<const char*>(p), S(p.GetPath(0, 0)).c_str()) == 0);

    // Arguments: parse, look up, edit, rebuild, and parse the rebuilt text again.
    if (!bArgs)
        p.SetArguments(text.c_str());
    int nArgs = p.GetArgCount();
    for (int i = 0; i < nArgs; ++i) {
        std::string name = S(p.GetArgument(i, 1));
        Require(name.find_first_of("/- ") == std::string::npos);
        int found = p.FindArgument(name.c_str());
        Require(name.empty() ? found == -1 : (found >= 0 && found <= i));
    }
    if (edits & 1)
        p.AddSetArgument(text.substr(0, edits >> 4).c_str(), text.c_str());
    if (edits & 2)
        p.RemoveArgument(static_cast<int>(edits >> 2) % (nArgs + 2) - 1);
    int nAfter = p.GetArgCount();
    std::string argText = S(p.GetArgument(-1, 0));
    Require(S(p.GetArgument(nAfter, 0)).empty());
    (void)S(p.GetPath(1, 1));

    CPath copy;
    copy = p;
    Require(copy.GetArgCount() == nAfter);
    Require(S(copy.GetPath(1, 0)) == S(p.GetPath(1, 0)));
    copy = copy;
    Require(S(copy.GetArgument(-1, 0)) == argText);

    CPath reparsed;
    reparsed.SetArguments(argText.c_str());
    (void)reparsed.GetArgCount();
    return 0;
}
