// Edrith: the version resource of a module or file.
//
// CFileVersionInfo reads the version resource of an executable module (by module handle) or of
// a file (by path) once, into one memory block that the object owns, and then answers from that
// block: the fixed version numbers of the file and of the product, the translations (language
// id and code page pairs) the resource declares, and the string values of the current
// translation. Static members name languages and code pages.
//
// Threading: an object is used by one thread at a time. GetLIDName, GetCPName and
// GetVerStringName read only constant data and may be called from any thread.
// Texts are in the process's 8-bit code page (UTF-8 on POSIX systems).
#pragma once

#include <platform/afx_string.h>
#include <platform/win_types.h>
#include <platform/win_version.h>

#if defined(_WIN32)
#ifdef EDRITH_BUILD
#define EDRITH_API __declspec(dllexport)
#else
#define EDRITH_API __declspec(dllimport)
#endif
#else
#define EDRITH_API __attribute__((visibility("default")))
#endif

class EDRITH_API CFileVersionInfo {
public:
    // A closed object: every member zero or null.
    CFileVersionInfo();
    // Closes the object.
    virtual ~CFileVersionInfo();
    // The copy holds the same fixed record, translations, current index and validity, and a
    // block of its own (a deep copy): each object releases its own block exactly once.
    CFileVersionInfo(const CFileVersionInfo& src);
    CFileVersionInfo& operator=(const CFileVersionInfo& src);

    // Opens the version resource of the loaded module hInstance (through its file path).
    // A null handle, or a module whose path cannot be fetched whole (longer than 259
    // characters), gives 0 and leaves the object as it was; otherwise as Open(path).
    BOOL Open(HINSTANCE hInstance);
    // Opens the version resource of the file at lpszPath. A null path gives 0 and leaves the
    // object as it was. Otherwise whatever was open is closed first; the result is 1 when the
    // file has a version resource whose fixed record is whole (52 bytes) and carries the
    // signature 0xFEEF04BD and which lists its translations; then the current translation is
    // index 0. On 0 the object is closed.
    BOOL Open(const char* lpszPath);
    // Releases the block and returns to the closed state; harmless on a closed object.
    void Close();
    // 1 while a version resource is open.
    BOOL IsValid() const;

    // The fixed record; all zero while closed.
    const VS_FIXEDFILEINFO& GetVSFFI() const;
    // Parts of the file and product versions (1.2.3.4 reads Major 1, Minor 2, Build 3,
    // QFE 4); 0 while closed.
    WORD GetFileVersionMajor() const;
    WORD GetFileVersionMinor() const;
    WORD GetFileVersionBuild() const;
    WORD GetFileVersionQFE() const;
    WORD GetProductVersionMajor() const;
    WORD GetProductVersionMinor() const;
    WORD GetProductVersionBuild() const;
    WORD GetProductVersionQFE() const;

    // Translations. An entry holds the language id in its low 16 bits and the code page in its
    // high 16 bits. An index is valid while the object is open and the index is below the
    // count; an invalid index gives 0.
    UINT GetTransCount() const;
    UINT GetCurTransIndex() const;
    DWORD GetTransByIndex(UINT nIndex) const;
    WORD GetLIDByIndex(UINT nIndex) const;
    WORD GetCPByIndex(UINT nIndex) const;
    // The current translation; 0 while closed.
    DWORD GetCurTrans() const;
    WORD GetCurLID() const;
    WORD GetCurCP() const;
    // Index of the first entry with this language and code page; -1 when none or closed.
    int FindTrans(WORD wLID, WORD wCP) const;
    // Make the matching entry current: 1 on success; 0 (current index unchanged) when closed or
    // absent.
    BOOL SetTrans(WORD wLID, WORD wCP);
    // Make entry nIndex current: 1 on success (also when it already is); 0 when closed or the
    // index is not valid, the current index unchanged.
    BOOL SetTransIndex(UINT nIndex);

    // Copies the string value lpszName of the current translation (only that one: no fall-back
    // to another language or code page) into lpszBuffer, cut to nBufferSize - 1 bytes and
    // terminated; returns 1. Returns 0 and touches nothing when the object is closed,
    // lpszName is null, a buffer is given with nBufferSize <= 0, or the name is too long to
    // form a lookup key (over 234 characters). A missing value returns 0 and leaves the buffer
    // all zeros. With a null buffer the call only tests whether the value exists.
    BOOL QueryStringValue(const char* lpszName, char* lpszBuffer, int nBufferSize) const;
    // The same for the standard name s_ppszStr[nIndex]; nIndex outside 0..12 gives 0 and
    // touches nothing.
    BOOL QueryStringValue(int nIndex, char* lpszBuffer, int nBufferSize) const;
    // s_ppszStr[nIndex] for 0..12, else null. The library's own constant; never freed.
    const char* GetVerStringName(int nIndex);
    // "<ProductName> <FileVersion>" of the current translation, each value cut to 31
    // characters; a missing value leaves its part empty, so a closed object gives " ".
    CString GetFileVersion();

    // Writes the name of language wLID into lpszBuffer (cut to the buffer and terminated) and
    // returns the system's result: the name's length, 0 for an unknown language. A null buffer
    // or nBufferSize <= 0 gives 0.
    static int GetLIDName(unsigned short wLID, char* lpszBuffer, int nBufferSize);
    // Sets *ppszName to the name of code page wCP and returns 1; for a code page outside the
    // table sets "Unknown" and returns 0. A null ppszName gives 0. Names are the library's own
    // constants; never freed.
    static BOOL GetCPName(unsigned short wCP, const char** ppszName);

protected:
    // Steps of Open: read the block and the fixed record; locate the translation list.
    BOOL GetVersionInfo(const char* lpszPath);
    BOOL QueryVersionTrans();

    // The standard names of string values, index 0 "Comments" to 12 "OLESelfRegister".
    static const char* s_ppszStr[13];

    VS_FIXEDFILEINFO m_FixedInfo;
    BYTE* m_pVersionBlock;
    DWORD* m_pTransTable;
    UINT m_nCurTrans;
    UINT m_nTransCount;
    BOOL m_bIsValid;
};
