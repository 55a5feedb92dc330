// The Windows services that path splitting uses, under their Windows names on every target.
//
// On Windows these are the real functions (kernel32, shlwapi, the C runtime). Elsewhere they
// are stand-ins that give the same results for the same inputs:
//
//   GetCommandLineA()            the process's command line: its arguments joined by blanks,
//                                each quoted as Windows quotes arguments (an argument that is
//                                empty or holds a blank, tab or double quote stands in double
//                                quotes; double quotes inside are escaped with a backslash,
//                                and backslashes before them doubled). The text lives as long
//                                as the process.
//   GetModuleFileNameA(h, b, n)  h null only: the executable's path (as the system names it,
//                                with slashes) into b. Returns its length, or n when it did not
//                                fit (then b holds the first n - 1 characters and a zero), or
//                                0 on failure or for any other module.
//   strcpy_s(d, n, s)            copies s into d (n bytes). Returns 0, EINVAL for a null d, a
//                                null s or n 0, ERANGE when s does not fit (d[0] is then zero).
//   _splitpath_s(...)            drive (the first two characters when the second is a colon),
//                                directory (through the last slash or backslash), file name and
//                                extension (from the last dot of the name on). Returns 0, or
//                                ERANGE when a part does not fit its buffer (every buffer is
//                                then emptied), EINVAL for a null path or a buffer given with a
//                                size of 0 (or the reverse; the buffers are then untouched).
//   PathGetArgsA(p)              pointer to the character after the first blank outside double
//                                quotes, or to the terminating zero when there is none.
//   PathRemoveArgsA(p)           cuts p before that blank; when there are no arguments, a
//                                trailing blank is removed.
//   PathUnquoteSpacesA(p)        removes one enclosing pair of double quotes: only when p both
//                                starts and ends with one (a lone double quote gives "").
//
// On Windows, strcpy_s and _splitpath_s end the process through the invalid-parameter handler
// instead of returning an error: callers check lengths before calling.
#pragma once

#include <platform/win_types.h>

#ifdef _WIN32

#include <shlwapi.h>
#include <stdlib.h>
#include <string.h>

#else

#include <cstddef>

typedef int errno_t;

extern "C" {
LPSTR GetCommandLineA(void);
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
errno_t strcpy_s(char* dest, std::size_t destsz, const char* src);
errno_t _splitpath_s(const char* path, char* drive, std::size_t driveNumberOfElements, char* dir,
                     std::size_t dirNumberOfElements, char* fname, std::size_t nameNumberOfElements,
                     char* ext, std::size_t extNumberOfElements);
LPSTR PathGetArgsA(LPCSTR pszPath);
void PathRemoveArgsA(LPSTR pszPath);
void PathUnquoteSpacesA(LPSTR lpsz);
}

#endif
