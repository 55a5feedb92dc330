// Root class and exceptions of the platform class layer.
//
// CObject is the root of the collection classes. Its virtual operations are declared in the
// order GetRuntimeClass, destructor, Serialize, AssertValid, Dump, so that the vtable of every
// derived class has the same shape on every build. Objects are not copyable.
//
// Exceptions are thrown the way the class libraries' clients expect of this class layer: as a
// pointer to a CException-derived object. The catcher owns it and calls Delete():
//
//     try { ... }
//     catch (CException* e) { e->Delete(); }
//
// Delete() frees objects that were allocated for the throw and leaves static ones alone (the
// memory exception is a static object, since it is raised when nothing more can be allocated).
// The exception classes have default visibility, so that a client catches by type what a
// library throws across the shared-library boundary.
#pragma once

#include <platform/win_types.h>

#if defined(_WIN32)
#define AFX_PLATFORM_VISIBLE
#else
#define AFX_PLATFORM_VISIBLE __attribute__((visibility("default")))
#endif

class CObject;
class CArchive;     // only named by CObject::Serialize; not provided
class CDumpContext; // only named by CObject::Dump; not provided

// Run-time class record. Classes of the libraries do not register records of their own; the
// type exists because the module state keeps a list of them (see afx_module.h).
struct CRuntimeClass {
    const char* m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;
    CObject* (*m_pfnCreateObject)();
    CRuntimeClass* m_pBaseClass;
    CRuntimeClass* m_pNextClass;
};

class CObject {
public:
    virtual CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject();
    virtual void Serialize(CArchive& ar);
    virtual void AssertValid() const;
    virtual void Dump(CDumpContext& dc) const;

    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;

    static CRuntimeClass classCObject;

protected:
    CObject() = default;
};

class AFX_PLATFORM_VISIBLE CException : public CObject {
public:
    // bAutoDelete: Delete() frees the object (it was allocated with new for the throw).
    explicit CException(BOOL bAutoDelete = TRUE) : m_bAutoDelete(bAutoDelete) {}
    ~CException() override {}

    // Ends the catcher's ownership: frees the object when it was allocated for the throw.
    virtual void Delete() {
        if (m_bAutoDelete)
            delete this;
    }

    // Copies a short description into lpszError (at most nMaxError bytes with the zero).
    // Returns TRUE when a description was written.
    virtual BOOL GetErrorMessage(char* lpszError, UINT nMaxError,
                                 UINT* pnHelpContext = nullptr) const;

protected:
    const char* Description() const;

    BOOL m_bAutoDelete;
};

// Raised by the string and array classes when memory cannot be had.
class AFX_PLATFORM_VISIBLE CMemoryException : public CException {
public:
    explicit CMemoryException(BOOL bAutoDelete = TRUE) : CException(bAutoDelete) {}
};

// Raised for an argument outside what an operation accepts, such as an array index outside
// the array.
class AFX_PLATFORM_VISIBLE CInvalidArgException : public CException {
public:
    explicit CInvalidArgException(BOOL bAutoDelete = TRUE) : CException(bAutoDelete) {}
};

// Raised for a failed platform result code (such as E_INVALIDARG or E_FAIL).
class AFX_PLATFORM_VISIBLE COleException : public CException {
public:
    explicit COleException(HRESULT sc, BOOL bAutoDelete = TRUE)
        : CException(bAutoDelete), m_sc(sc) {}
    HRESULT m_sc;
};

// CFileException: declared in afx_file.h together with CStdioFile.

// Throws a pointer to a static CMemoryException (Delete() leaves it alone).
[[noreturn]] void AfxThrowMemoryException();
// Throws a pointer to a new CInvalidArgException.
[[noreturn]] void AfxThrowInvalidArgException();
// Throws a pointer to a new COleException carrying sc.
[[noreturn]] void AfxThrowOleException(HRESULT sc);
