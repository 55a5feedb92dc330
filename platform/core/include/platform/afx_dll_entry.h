// The entry point of a class library (an extension library of this class layer), written once.
//
// A library's src/dllmain.cpp holds
//
//     #include <platform/afx_dll_entry.h>
//     static AFX_EXTENSION_MODULE s_module = {};
//     AFX_EXTENSION_LIBRARY_ENTRY(s_module, nullptr, nullptr)
//
// and gets:
//   - on Windows, DllMain. At process attach it moves the module state's class and factory
//     list heads aside and clears them, calls AfxInitExtensionModule(record, hInstance) and
//     reports failure (the library is not loaded) when that fails, calls the optional
//     pfnAfterInit(hInstance) hook (a FALSE result undoes the initialisation and reports
//     failure), creates the CDynLinkLibrary and reports success. At process detach it calls
//     the optional pfnBeforeTerm() hook, then AfxTermExtensionModule(record). Thread attach and
//     detach do nothing.
//   - on POSIX, an ELF constructor and destructor that run the same steps when the shared
//     object is loaded and unloaded. The module handle is the shared object's load address (an
//     identity only: it is not a handle that the resource functions accept). A shared object
//     cannot refuse to load: a failed attach leaves the record uninitialised.
//   Detach does nothing (and calls no hook) when the record is not initialised.
//
// pfnAfterInit runs between initialisation and the CDynLinkLibrary (a library that needs a
// service for its whole life starts it there); pfnBeforeTerm runs first at detach (and stops
// it). Both may be null.
#pragma once

#include <platform/afx_module.h>

namespace afx_entry {

typedef BOOL (*PFN_AFTER_INIT)(HMODULE hModule);
typedef void (*PFN_BEFORE_TERM)();

// The attach and detach steps. Attach returns FALSE when the library must not be used.
BOOL ExtensionLibraryAttach(AFX_EXTENSION_MODULE& record, HMODULE hModule,
                            PFN_AFTER_INIT pfnAfterInit, PFN_BEFORE_TERM pfnBeforeTerm);
void ExtensionLibraryDetach(AFX_EXTENSION_MODULE& record, PFN_BEFORE_TERM pfnBeforeTerm);

// The load address of the shared object holding pAddress (POSIX), as a module handle.
HMODULE ModuleOfAddress(const void* pAddress);

} // namespace afx_entry

#ifdef _WIN32

#define AFX_EXTENSION_LIBRARY_ENTRY(record, pfnAfterInit, pfnBeforeTerm)                           \
    extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {                  \
        if (dwReason == DLL_PROCESS_ATTACH)                                                        \
            return ::afx_entry::ExtensionLibraryAttach((record), hInstance, (pfnAfterInit),        \
                                                       (pfnBeforeTerm));                           \
        if (dwReason == DLL_PROCESS_DETACH)                                                        \
            ::afx_entry::ExtensionLibraryDetach((record), (pfnBeforeTerm));                        \
        return TRUE;                                                                               \
    }

#else

#define AFX_EXTENSION_LIBRARY_ENTRY(record, pfnAfterInit, pfnBeforeTerm)                           \
    namespace {                                                                                    \
    __attribute__((constructor)) void AfxExtensionLibraryLoaded() {                                \
        static const char s_anchor = 0;                                                            \
        ::afx_entry::ExtensionLibraryAttach((record), ::afx_entry::ModuleOfAddress(&s_anchor),     \
                                            (pfnAfterInit), (pfnBeforeTerm));                      \
    }                                                                                              \
    __attribute__((destructor)) void AfxExtensionLibraryUnloaded() {                               \
        ::afx_entry::ExtensionLibraryDetach((record), (pfnBeforeTerm));                            \
    }                                                                                              \
    }

#endif
