// The library's entry point on Windows. Nimbrel keeps no state, so there is nothing to set up or
// tear down at any notification; loading always succeeds.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
    return TRUE;
}
