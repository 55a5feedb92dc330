// Module state, extension-module records and the library entry steps.
#include <platform/afx_dll_entry.h>

#include <new>

#ifndef _WIN32
#include <dlfcn.h>
#endif

AFX_MODULE_STATE* AfxGetModuleState() {
    static AFX_MODULE_STATE s_state;
    return &s_state;
}

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule) {
    if (state.bInitialized)
        return TRUE;
    if (!hModule)
        return FALSE;
    AFX_MODULE_STATE* pModuleState = AfxGetModuleState();
    state.hModule = hModule;
    state.hResource = hModule;
    // The classes and factories registered before the attach step cleared the lists.
    state.pFirstSharedClass = pModuleState->m_pClassInit;
    state.pFirstSharedFactory = pModuleState->m_pFactoryInit;
    state.bInitialized = TRUE;
    return TRUE;
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll) {
    AFX_MODULE_STATE* pModuleState = AfxGetModuleState();
    CDynLinkLibrary* p = pModuleState->m_pFirstLibrary;
    while (p) {
        CDynLinkLibrary* pNext = p->m_pNextDLL;
        if (bAll || p->m_hModule == state.hModule)
            delete p; // unlinks itself
        p = pNext;
    }
    state.bInitialized = FALSE;
}

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL bSystem)
    : m_hModule(state.hModule), m_hResource(state.hResource), m_bSystem(bSystem),
      m_pNextDLL(nullptr) {
    m_classList.m_pHead = state.pFirstSharedClass;
    m_factoryList.m_pHead = state.pFirstSharedFactory;
    AFX_MODULE_STATE* pModuleState = AfxGetModuleState();
    m_pNextDLL = pModuleState->m_pFirstLibrary;
    pModuleState->m_pFirstLibrary = this;
}

CDynLinkLibrary::~CDynLinkLibrary() {
    AFX_MODULE_STATE* pModuleState = AfxGetModuleState();
    for (CDynLinkLibrary** pp = &pModuleState->m_pFirstLibrary; *pp; pp = &(*pp)->m_pNextDLL) {
        if (*pp == this) {
            *pp = m_pNextDLL;
            break;
        }
    }
}

namespace afx_entry {

BOOL ExtensionLibraryAttach(AFX_EXTENSION_MODULE& record, HMODULE hModule,
                            PFN_AFTER_INIT pfnAfterInit, PFN_BEFORE_TERM pfnBeforeTerm) {
    // Move the module's class and factory list heads aside and clear them, so that the
    // record takes over what the module registered before this point.
    AFX_MODULE_STATE* pModuleState = AfxGetModuleState();
    pModuleState->m_pClassInit = pModuleState->m_classList.m_pHead;
    pModuleState->m_pFactoryInit = pModuleState->m_factoryList.m_pHead;
    pModuleState->m_classList.m_pHead = nullptr;
    pModuleState->m_factoryList.m_pHead = nullptr;

    if (!AfxInitExtensionModule(record, hModule))
        return FALSE;
    if (pfnAfterInit && !pfnAfterInit(hModule)) {
        AfxTermExtensionModule(record);
        return FALSE;
    }
    CDynLinkLibrary* pLibrary = new (std::nothrow) CDynLinkLibrary(record);
    if (!pLibrary) {
        if (pfnBeforeTerm)
            pfnBeforeTerm();
        AfxTermExtensionModule(record);
        return FALSE;
    }
    return TRUE;
}

void ExtensionLibraryDetach(AFX_EXTENSION_MODULE& record, PFN_BEFORE_TERM pfnBeforeTerm) {
    if (!record.bInitialized)
        return;
    if (pfnBeforeTerm)
        pfnBeforeTerm();
    AfxTermExtensionModule(record);
}

HMODULE ModuleOfAddress(const void* pAddress) {
#ifdef _WIN32
    HMODULE h = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<const char*>(pAddress), &h))
        return nullptr;
    return h;
#else
    Dl_info info;
    if (!dladdr(pAddress, &info) || !info.dli_fbase)
        return nullptr;
    return static_cast<HMODULE>(info.dli_fbase);
#endif
}

} // namespace afx_entry
