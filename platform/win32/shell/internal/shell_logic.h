// The portable logic behind the POSIX stand-ins of win_shell.h. Built on every target: the
// POSIX build wraps it under the Windows names, and the Windows tests compare it with the real
// functions on the same inputs.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace shell_logic {

int StrcpyS(char* dest, std::size_t destsz, const char* src);
int SplitPathS(const char* path, char* drive, std::size_t driveSize, char* dir, std::size_t dirSize,
               char* fname, std::size_t fnameSize, char* ext, std::size_t extSize);
char* FindArgs(const char* path);
void CutArgs(char* path);
void UnquoteSpaces(char* path);

// The command line Windows shows for a process started with these arguments.
std::string BuildCommandLine(const std::vector<std::string>& args);

} // namespace shell_logic
