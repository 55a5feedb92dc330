// CString: counted 8-bit string with value semantics.
//
// Copying and assignment copy the text. The character buffer comes from the C runtime's
// malloc and goes back through free, which every module of the process shares: a string made
// in one library may be destroyed or changed in another. An empty string holds no buffer.
//
// Lengths and indexes are int. Operations never read outside the string: out-of-range counts
// of Left/Right/Mid are clamped, a Find start beyond the end finds nothing, and GetAt outside
// [0, GetLength()] throws the invalid-argument exception. Allocation failure throws the memory
// exception (afx_object.h). The text may hold any byte except zero; case-insensitive
// comparison folds the ASCII letters only, and trimming removes " \t\n\v\f\r".
#pragma once

#include <platform/afx_object.h>

#include <cstdarg>

#if defined(__MINGW32__) && defined(__MINGW_PRINTF_FORMAT)
#define AFX_PRINTF_LIKE(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#elif defined(__GNUC__)
#define AFX_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#else
#define AFX_PRINTF_LIKE(f, a)
#endif

class CString {
public:
    CString() noexcept : m_pszData(nullptr), m_nDataLength(0), m_nAllocLength(0) {}
    CString(const CString& src);
    CString(CString&& src) noexcept;
    CString(const char* psz);              // null gives the empty string
    CString(const char* pch, int nLength); // nLength bytes (none may be zero); < 0 gives empty
    CString(char ch, int nRepeat = 1);
    ~CString();

    CString& operator=(const CString& src);
    CString& operator=(CString&& src) noexcept;
    CString& operator=(const char* psz);
    CString& operator=(char ch);

    CString& operator+=(const CString& src);
    CString& operator+=(const char* psz);
    CString& operator+=(char ch);

    int GetLength() const { return m_nDataLength; }
    bool IsEmpty() const { return m_nDataLength == 0; }
    void Empty();

    // Character at nIndex; GetAt(GetLength()) gives the terminating zero.
    char GetAt(int nIndex) const;
    char operator[](int nIndex) const { return GetAt(nIndex); }
    void SetAt(int nIndex, char ch); // nIndex in [0, GetLength())

    // Zero-terminated text, valid until the string next changes.
    const char* GetString() const { return m_pszData ? m_pszData : ""; }
    operator const char*() const { return GetString(); }

    // Comparisons: < 0, 0, > 0 as for strcmp (bytes unsigned).
    int Compare(const char* psz) const;
    int CompareNoCase(const char* psz) const;

    // Index of the first match at or after nStart, or -1.
    int Find(char ch, int nStart = 0) const;
    int Find(const char* pszSub, int nStart = 0) const;
    int FindOneOf(const char* pszCharSet) const;

    CString Left(int nCount) const;
    CString Right(int nCount) const;
    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;

    // Removes every ch; returns the count removed.
    int Remove(char ch);
    // Replaces every chOld by chNew (chNew zero is refused); returns the count replaced.
    int Replace(char chOld, char chNew);

    CString& TrimLeft();
    CString& TrimRight();

    // printf-style formatting; the arguments may point into this string.
    void Format(const char* pszFormat, ...) AFX_PRINTF_LIKE(2, 3);
    void FormatV(const char* pszFormat, va_list args);

private:
    void Reserve(int nCapacity, bool bKeep);
    void AssignCopy(const char* pch, int nLength);
    void Append(const char* pch, int nLength);

    char* m_pszData; // malloc'ed, zero-terminated; null when nothing is allocated
    int m_nDataLength;
    int m_nAllocLength; // characters the buffer holds, not counting the zero
};

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, const char* b);
CString operator+(const char* a, const CString& b);
CString operator+(const CString& a, char b);
CString operator+(char a, const CString& b);

bool operator==(const CString& a, const CString& b);
bool operator==(const CString& a, const char* b);
bool operator==(const char* a, const CString& b);
bool operator!=(const CString& a, const CString& b);
bool operator!=(const CString& a, const char* b);
bool operator!=(const char* a, const CString& b);
bool operator<(const CString& a, const CString& b);

// CStringArray lives with the other arrays.
#include <platform/afx_coll.h>
