// The Windows file-system services that path queries use, under their Windows names on every
// target. On Windows these are the real functions (kernel32, shlwapi). Elsewhere they are
// stand-ins over the POSIX file system:
//
//   Paths given to them become POSIX paths by the one mapping of platform/posix_path.h:
//   backslashes turn into slashes, "Z:" is the POSIX root (Z:\home\u is /home/u, Z:x.txt is
//   x.txt in the working directory), a path without drive is used as it is (\home\u is
//   /home/u, rel\x is relative to the working directory). Every other drive letter, every
//   network path (\\server\share) and the device namespaces (\\.\, \\?\) do not exist.
//
//   PathFileExistsA(p)              TRUE when p names an existing file or directory.
//   PathCanonicalizeA(out, p)       text only: applies . and .. by the shell's own rules,
//                                   quirks included (see path_text.cpp); out holds MAX_PATH
//                                   bytes. FALSE for a text of MAX_PATH characters or more
//                                   (out is then empty).
//   PathRelativePathToA(out, from, fromAttr, to, toAttr)
//                                   text only: the path from the directory from (the directory
//                                   of the file from, without FILE_ATTRIBUTE_DIRECTORY) to to,
//                                   by the shell's rules. FALSE when they share no common
//                                   prefix, when either is MAX_PATH characters or longer, or
//                                   when the result does not fit.
//   GetShortPathNameA, GetLongPathNameA
//                                   POSIX has no 8.3 names: both give the path as passed when
//                                   it exists. Return as Windows: the length copied, the size
//                                   needed (with the zero) when the buffer is too small, 0 when
//                                   the path does not exist.
//   GetVolumeInformationA(root, label, size, ...)
//                                   root must end with a separator (Z:\, \, Z:\home\). The
//                                   label of the file system holding root, from the mount table
//                                   and /dev/disk/by-label; empty when it has none. Serial
//                                   number is the device number, maximum component length 255,
//                                   flags 0, file-system name from the mount table. FALSE when
//                                   root does not exist.
//   CreateFileA, GetFileInformationByHandle, CloseHandle
//                                   open an existing file (never a directory: Windows needs a
//                                   backup-semantics flag for that) or create one, and read
//                                   its size, times (creation time is the birth time where the
//                                   file system records it, else the change time), device,
//                                   inode and link count. Share modes are not enforced.
//
// The time services FileTimeToLocalFileTime, FileTimeToSystemTime and _mktime64 come with
// CTime (platform/afx_time.h).
#pragma once

#include <platform/win_types.h>

#ifdef _WIN32

#include <shlwapi.h>
#include <windows.h>

#else

typedef struct SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define FILE_SHARE_DELETE 0x4u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_READONLY 0x1u
#define FILE_ATTRIBUTE_HIDDEN 0x2u
#define FILE_ATTRIBUTE_SYSTEM 0x4u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_ARCHIVE 0x20u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

extern "C" {
BOOL PathFileExistsA(LPCSTR pszPath);
BOOL PathCanonicalizeA(LPSTR pszBuf, LPCSTR pszPath);
BOOL PathRelativePathToA(LPSTR pszPath, LPCSTR pszFrom, DWORD dwAttrFrom, LPCSTR pszTo,
                         DWORD dwAttrTo);
DWORD GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer);
DWORD GetLongPathNameA(LPCSTR lpszShortPath, LPSTR lpszLongPath, DWORD cchBuffer);
BOOL GetVolumeInformationA(LPCSTR lpRootPathName, LPSTR lpVolumeNameBuffer, DWORD nVolumeNameSize,
                           LPDWORD lpVolumeSerialNumber, LPDWORD lpMaximumComponentLength,
                           LPDWORD lpFileSystemFlags, LPSTR lpFileSystemNameBuffer,
                           DWORD nFileSystemNameSize);
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation);
BOOL CloseHandle(HANDLE hObject);
}

#endif
