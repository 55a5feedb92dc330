// CObject's virtual operations and the exception helpers.
#include <platform/afx_object.h>

#include <cstring>
#include <new>

CRuntimeClass CObject::classCObject = {"CObject", sizeof(CObject), 0xffff,
                                       nullptr,   nullptr,         nullptr};

CRuntimeClass* CObject::GetRuntimeClass() const {
    return &classCObject;
}
CObject::~CObject() {}
void CObject::Serialize(CArchive&) {}
void CObject::AssertValid() const {}
void CObject::Dump(CDumpContext&) const {}

const char* CException::Description() const {
    if (dynamic_cast<const CMemoryException*>(this))
        return "Out of memory.";
    if (dynamic_cast<const CInvalidArgException*>(this))
        return "Invalid argument.";
    if (dynamic_cast<const COleException*>(this))
        return "Platform operation failed.";
    return "Unknown error.";
}

BOOL CException::GetErrorMessage(char* lpszError, UINT nMaxError, UINT* pnHelpContext) const {
    if (pnHelpContext)
        *pnHelpContext = 0;
    if (!lpszError || nMaxError == 0)
        return FALSE;
    const char* text = Description();
    std::size_t n = std::strlen(text);
    if (n >= nMaxError)
        n = nMaxError - 1;
    std::memcpy(lpszError, text, n);
    lpszError[n] = '\0';
    return TRUE;
}

void AfxThrowMemoryException() {
    // Nothing may be allocated here; the object is never freed by its catchers.
    static CMemoryException s_memoryException(FALSE);
    throw static_cast<CMemoryException*>(&s_memoryException);
}

void AfxThrowInvalidArgException() {
    CInvalidArgException* e = new (std::nothrow) CInvalidArgException(TRUE);
    if (!e)
        AfxThrowMemoryException();
    throw e;
}

void AfxThrowOleException(HRESULT sc) {
    COleException* e = new (std::nothrow) COleException(sc, TRUE);
    if (!e)
        AfxThrowMemoryException();
    throw e;
}
