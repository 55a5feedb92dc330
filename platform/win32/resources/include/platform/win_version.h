// The fixed version record of a version resource (VS_FIXEDFILEINFO): from <windows.h> on
// Windows, defined here with the same layout elsewhere.
#pragma once

#include <platform/win_types.h>

#ifndef _WIN32

struct VS_FIXEDFILEINFO {
    DWORD dwSignature; // 0xFEEF04BD in a sound record
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};

#endif // _WIN32

static_assert(sizeof(VS_FIXEDFILEINFO) == 52, "VS_FIXEDFILEINFO is 13 32-bit words");
