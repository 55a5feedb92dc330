// Library start and stop: the extension-library registration of the platform class layer.
#include <platform/afx_dll_entry.h>

static AFX_EXTENSION_MODULE s_module = {};
AFX_EXTENSION_LIBRARY_ENTRY(s_module, nullptr, nullptr)
