// Module handles, resources and version resources: the Windows functions on Windows, and on
// other systems stand-ins with the same names and contracts over the PE resource reader, so that
// code using them is the same on both.
//
// The stand-ins, where they differ from Windows:
// - LoadLibraryExA only loads a file as data (LOAD_LIBRARY_AS_DATAFILE or
//   LOAD_LIBRARY_AS_IMAGE_RESOURCE); nothing is executed. The file is mapped read-only until
//   FreeLibrary, and only the pages that lookups touch are read, so data appended to a module
//   costs nothing. Unlike Windows, POSIX systems let another process truncate a mapped file;
//   reading a resource that now lies past the end then raises SIGBUS.
//   Paths follow the platform's convention: backslashes become slashes, "Z:" is the root, other
//   drive letters and UNC paths do not exist.
// - GetModuleFileNameA also works on handles loaded as data (Windows refuses those). The null
//   handle is the process's executable, which holds no PE resources here.
// - GetFileVersionInfoSizeA asks for a larger block than Windows (the spare space holds UTF-8,
//   see version_block.h), and GetFileVersionInfoA fails instead of filling part of a block that
//   is too small.
// - VerQueryValueA gives text values in UTF-8, the 8-bit code page of these systems.
// - VerLanguageNameA names languages in English from ICU's table of Windows language ids.
// - No function sets a last-error value.
// All functions may be called from any thread; a handle must not be freed while in use.
#pragma once

#include <platform/win_types.h>
#include <platform/win_version.h>

#ifdef _WIN32
#include <windows.h>
#include <winver.h>
#else

#define LOAD_LIBRARY_AS_DATAFILE 0x00000002
#define LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE 0x00000040
#define LOAD_LIBRARY_AS_IMAGE_RESOURCE 0x00000020

#define RT_VERSION MAKEINTRESOURCEA(16)
#define RT_RCDATA MAKEINTRESOURCEA(10)
#define VS_FILE_INFO RT_VERSION
#define VS_VERSION_INFO 1
#define VS_FFI_SIGNATURE 0xFEEF04BDL

// Loads the PE file at `path` as data. Returns null when the file cannot be read or is not a
// PE file, or when `flags` asks for more than a data load.
HMODULE LoadLibraryExA(LPCSTR path, HANDLE reserved, DWORD flags);
// Releases a handle from LoadLibraryExA; FALSE for the null handle or one that is not a
// module handle. A freed handle must not be used again.
BOOL FreeLibrary(HMODULE module);
// Copies the module's full path into `buffer`, cut to size - 1 characters and terminated.
// Returns the length copied, or `size` when the path was cut; 0 on failure.
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);

// Finds a resource by name and type (integer ids through MAKEINTRESOURCEA, or names; "#n" is
// the id n), in the first language present in this order: neutral, process default, system
// default, English (United States), the first listed. Null when absent.
HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
DWORD SizeofResource(HMODULE module, HRSRC resource);
// The resource's bytes, valid until the module is freed. LockResource gives the same pointer.
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);

DWORD GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle);
BOOL GetFileVersionInfoA(LPCSTR path, DWORD handle, DWORD size, LPVOID block);
BOOL VerQueryValueA(LPCVOID block, LPCSTR sub_block, LPVOID* value, UINT* length);
// Writes the English name of `language` into `buffer`, cut to size - 1 bytes (at a character
// boundary) and terminated. Returns the name's full length; 0 for an unknown language.
DWORD VerLanguageNameA(DWORD language, LPSTR buffer, DWORD size);

#endif // _WIN32
