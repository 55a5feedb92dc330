// POSIX stand-ins of the Windows services in win_shell.h.
#include <platform/win_shell.h>

#include "shell_logic.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#if defined(__APPLE__)
#include <crt_externs.h>
#include <mach-o/dyld.h>
#include <climits>
#else
#include <unistd.h>
#endif

namespace {

std::vector<std::string> ProcessArguments() {
    std::vector<std::string> args;
#if defined(__APPLE__)
    int argc = *_NSGetArgc();
    char** argv = *_NSGetArgv();
    for (int i = 0; i < argc; ++i)
        args.emplace_back(argv[i] ? argv[i] : "");
#else
    // The arguments, each ended by a zero byte.
    std::FILE* f = std::fopen("/proc/self/cmdline", "rb");
    if (!f)
        return args;
    std::string all;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        all.append(chunk, n);
    std::fclose(f);
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t zero = all.find('\0', start);
        if (zero == std::string::npos)
            zero = all.size();
        args.push_back(all.substr(start, zero - start));
        start = zero + 1;
    }
#endif
    return args;
}

} // namespace

extern "C" {

LPSTR GetCommandLineA(void) {
    // Built once; the text lives as long as the process, as the Windows one does.
    static std::string s_commandLine = shell_logic::BuildCommandLine(ProcessArguments());
    return const_cast<char*>(s_commandLine.c_str());
}

// Weak: the resource stand-ins define the same function for module handles as well (with the
// same answer for the null handle), and a binary that links both keeps theirs.
__attribute__((weak)) DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    if (hModule || !lpFilename || nSize == 0)
        return 0;
    std::string path;
#if defined(__APPLE__)
    uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::vector<char> buffer(size + 1);
    if (_NSGetExecutablePath(buffer.data(), &size) != 0)
        return 0;
    path = buffer.data();
#else
    std::vector<char> buffer(4096);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return 0;
        if (static_cast<std::size_t>(n) < buffer.size()) {
            path.assign(buffer.data(), static_cast<std::size_t>(n));
            break;
        }
        if (buffer.size() >= (1u << 20))
            return 0;
        buffer.resize(buffer.size() * 2);
    }
#endif
    if (path.size() >= nSize) {
        // As Windows does: as much as fits, terminated, and the buffer size as result.
        std::memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
        return nSize;
    }
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

errno_t strcpy_s(char* dest, std::size_t destsz, const char* src) {
    return shell_logic::StrcpyS(dest, destsz, src);
}

errno_t _splitpath_s(const char* path, char* drive, std::size_t driveNumberOfElements, char* dir,
                     std::size_t dirNumberOfElements, char* fname, std::size_t nameNumberOfElements,
                     char* ext, std::size_t extNumberOfElements) {
    return shell_logic::SplitPathS(path, drive, driveNumberOfElements, dir, dirNumberOfElements,
                                   fname, nameNumberOfElements, ext, extNumberOfElements);
}

LPSTR PathGetArgsA(LPCSTR pszPath) {
    return shell_logic::FindArgs(pszPath);
}

void PathRemoveArgsA(LPSTR pszPath) {
    shell_logic::CutArgs(pszPath);
}

void PathUnquoteSpacesA(LPSTR lpsz) {
    shell_logic::UnquoteSpaces(lpsz);
}

} // extern "C"
