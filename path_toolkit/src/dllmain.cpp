// Library start and stop: registration as an extension library of the class layer.
#include <platform/afx_dll_entry.h>

namespace {
AFX_EXTENSION_MODULE s_corvaneModule = {};
}

AFX_EXTENSION_LIBRARY_ENTRY(s_corvaneModule, nullptr, nullptr)
