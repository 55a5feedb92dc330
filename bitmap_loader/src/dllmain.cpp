// Library start and stop: registration as an extension library, with GDI+ started between
// the extension-module initialisation and the registration, and shut down before the
// termination. The status of GdiplusStartup is not examined: the library loads even when GDI+
// does not start, and every Load then fails.
#include <platform/afx_dll_entry.h>
#include <platform/win_gdiplus.h>

namespace {

AFX_EXTENSION_MODULE s_module = {};
ULONG_PTR g_gdiplusToken = 0;

BOOL StartGdiplus(HMODULE) {
    Gdiplus::GdiplusStartupInput input; // version 1, no callback, nothing suppressed
    Gdiplus::GdiplusStartup(&g_gdiplusToken, &input, nullptr);
    return TRUE;
}

void StopGdiplus() {
    Gdiplus::GdiplusShutdown(g_gdiplusToken);
}

} // namespace

AFX_EXTENSION_LIBRARY_ENTRY(s_module, StartGdiplus, StopGdiplus)
