// Extension-library registration: what the four class libraries do when they are loaded and
// unloaded.
//
// Each module that links this class layer has one module state (AfxGetModuleState). It keeps
// the heads of the lists of run-time classes and class factories that the module registers,
// and the chain of CDynLinkLibrary objects that join extension libraries to it. A library's
// attach step moves the two list heads aside and clears them, initialises its
// AFX_EXTENSION_MODULE record with AfxInitExtensionModule and creates a CDynLinkLibrary for
// it; its detach step calls AfxTermExtensionModule, which destroys that CDynLinkLibrary.
//
// The class layer is a static library linked into every module, so the state is private to
// each module: nothing is shared between the libraries of a process, and the libraries of
// this suite register no classes of their own. The records are kept so that the start and
// stop follow the same steps on every platform.
//
// The steps are written once, in afx_dll_entry.h, which a library's entry source uses.
#pragma once

#include <platform/afx_object.h>

class COleObjectFactory; // never defined: factory lists stay empty here
class CDynLinkLibrary;

struct CRuntimeClassList {
    CRuntimeClass* m_pHead = nullptr;
};
struct COleObjectFactoryList {
    COleObjectFactory* m_pHead = nullptr;
};

struct AFX_MODULE_STATE {
    CRuntimeClassList m_classList;       // classes the module registers
    COleObjectFactoryList m_factoryList; // class factories the module registers
    CRuntimeClass* m_pClassInit = nullptr;
    COleObjectFactory* m_pFactoryInit = nullptr;
    CDynLinkLibrary* m_pFirstLibrary = nullptr; // chain of joined extension libraries
};

struct AFX_EXTENSION_MODULE {
    BOOL bInitialized;
    HMODULE hModule;
    HMODULE hResource;
    CRuntimeClass* pFirstSharedClass;
    COleObjectFactory* pFirstSharedFactory;
};

// The calling module's state.
AFX_MODULE_STATE* AfxGetModuleState();

// Records hModule in state and takes over the classes and factories that the module state's
// init heads hold. Returns FALSE (and leaves state uninitialised) for a null hModule; TRUE
// when the record is initialised, including when it already was.
BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule);

// Destroys the CDynLinkLibrary objects made for state (all of the module's when bAll) and
// marks state uninitialised. Safe to call on a record that was never initialised.
void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll = FALSE);

// Joins an initialised extension module to the module state's chain for as long as the object
// lives. Created with new at attach; AfxTermExtensionModule deletes it.
class CDynLinkLibrary : public CObject {
public:
    explicit CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL bSystem = FALSE);
    ~CDynLinkLibrary() override;

    HMODULE m_hModule;
    HMODULE m_hResource;
    CRuntimeClassList m_classList;
    COleObjectFactoryList m_factoryList;
    BOOL m_bSystem;
    CDynLinkLibrary* m_pNextDLL;
};
