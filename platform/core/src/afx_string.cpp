// CString. The buffer is malloc'ed with room for m_nAllocLength characters and the zero.
// Every operation that takes text from outside works out the new contents before it frees the
// old buffer, so arguments that point into the string itself (s += s, s = s.Mid(1),
// s.Format("%s", (const char*)s)) are safe.
#include <platform/afx_string.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char kWhiteSpace[] = " \t\n\v\f\r";

bool IsWhite(char ch) {
    return ch != '\0' && std::strchr(kWhiteSpace, ch) != nullptr;
}

unsigned char FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

int SafeLength(const char* psz) {
    if (!psz)
        return 0;
    std::size_t n = std::strlen(psz);
    if (n > static_cast<std::size_t>(INT_MAX - 1))
        AfxThrowMemoryException();
    return static_cast<int>(n);
}

} // namespace

CString::CString(const CString& src) : CString() {
    AssignCopy(src.m_pszData, src.m_nDataLength);
}

CString::CString(CString&& src) noexcept
    : m_pszData(src.m_pszData), m_nDataLength(src.m_nDataLength),
      m_nAllocLength(src.m_nAllocLength) {
    src.m_pszData = nullptr;
    src.m_nDataLength = 0;
    src.m_nAllocLength = 0;
}

CString::CString(const char* psz) : CString() {
    AssignCopy(psz, SafeLength(psz));
}

CString::CString(const char* pch, int nLength) : CString() {
    if (pch && nLength > 0)
        AssignCopy(pch, nLength);
}

CString::CString(char ch, int nRepeat) : CString() {
    if (ch == '\0' || nRepeat <= 0)
        return;
    Reserve(nRepeat, false);
    std::memset(m_pszData, static_cast<unsigned char>(ch), static_cast<std::size_t>(nRepeat));
    m_pszData[nRepeat] = '\0';
    m_nDataLength = nRepeat;
}

CString::~CString() {
    std::free(m_pszData);
}

CString& CString::operator=(const CString& src) {
    if (this != &src)
        AssignCopy(src.m_pszData, src.m_nDataLength);
    return *this;
}

CString& CString::operator=(CString&& src) noexcept {
    if (this != &src) {
        std::free(m_pszData);
        m_pszData = src.m_pszData;
        m_nDataLength = src.m_nDataLength;
        m_nAllocLength = src.m_nAllocLength;
        src.m_pszData = nullptr;
        src.m_nDataLength = 0;
        src.m_nAllocLength = 0;
    }
    return *this;
}

CString& CString::operator=(const char* psz) {
    AssignCopy(psz, SafeLength(psz));
    return *this;
}

CString& CString::operator=(char ch) {
    char text[2] = {ch, '\0'};
    AssignCopy(text, ch ? 1 : 0);
    return *this;
}

CString& CString::operator+=(const CString& src) {
    Append(src.m_pszData, src.m_nDataLength);
    return *this;
}

CString& CString::operator+=(const char* psz) {
    Append(psz, SafeLength(psz));
    return *this;
}

CString& CString::operator+=(char ch) {
    if (ch != '\0')
        Append(&ch, 1);
    return *this;
}

void CString::Empty() {
    std::free(m_pszData);
    m_pszData = nullptr;
    m_nDataLength = 0;
    m_nAllocLength = 0;
}

// Makes room for nCapacity characters. With bKeep the text is kept, else the contents are
// undefined afterwards (the caller overwrites them). Never moves text the caller still reads
// from: the old buffer is freed only after the copy.
void CString::Reserve(int nCapacity, bool bKeep) {
    if (nCapacity < 0 || nCapacity > INT_MAX - 1)
        AfxThrowMemoryException();
    if (nCapacity <= m_nAllocLength && m_pszData)
        return;
    char* pNew = static_cast<char*>(std::malloc(static_cast<std::size_t>(nCapacity) + 1));
    if (!pNew)
        AfxThrowMemoryException();
    if (bKeep && m_pszData)
        std::memcpy(pNew, m_pszData, static_cast<std::size_t>(m_nDataLength) + 1);
    else
        pNew[0] = '\0';
    std::free(m_pszData);
    m_pszData = pNew;
    m_nAllocLength = nCapacity;
    if (!bKeep)
        m_nDataLength = 0;
}

void CString::AssignCopy(const char* pch, int nLength) {
    if (!pch || nLength <= 0) {
        Empty();
        return;
    }
    if (m_pszData && pch >= m_pszData && pch <= m_pszData + m_nDataLength) {
        // Source is inside this string: a substring of it, moved to the front.
        std::memmove(m_pszData, pch, static_cast<std::size_t>(nLength));
        m_pszData[nLength] = '\0';
        m_nDataLength = nLength;
        return;
    }
    if (nLength > m_nAllocLength || !m_pszData)
        Reserve(nLength, false);
    std::memcpy(m_pszData, pch, static_cast<std::size_t>(nLength));
    m_pszData[nLength] = '\0';
    m_nDataLength = nLength;
}

void CString::Append(const char* pch, int nLength) {
    if (!pch || nLength <= 0)
        return;
    if (nLength > INT_MAX - 1 - m_nDataLength)
        AfxThrowMemoryException();
    int nNew = m_nDataLength + nLength;
    if (nNew > m_nAllocLength || !m_pszData) {
        // Grow by half again, so that appending one character at a time stays linear.
        int nCapacity = nNew;
        if (m_nAllocLength < (INT_MAX - 1) / 3 * 2) {
            int nGrown = m_nAllocLength + m_nAllocLength / 2;
            if (nGrown > nCapacity)
                nCapacity = nGrown;
        }
        if (nCapacity < 16)
            nCapacity = 16;
        char* pNew = static_cast<char*>(std::malloc(static_cast<std::size_t>(nCapacity) + 1));
        if (!pNew)
            AfxThrowMemoryException();
        if (m_nDataLength)
            std::memcpy(pNew, m_pszData, static_cast<std::size_t>(m_nDataLength));
        std::memcpy(pNew + m_nDataLength, pch, static_cast<std::size_t>(nLength));
        pNew[nNew] = '\0';
        std::free(m_pszData); // pch may point here: copied above
        m_pszData = pNew;
        m_nAllocLength = nCapacity;
        m_nDataLength = nNew;
        return;
    }
    std::memmove(m_pszData + m_nDataLength, pch, static_cast<std::size_t>(nLength));
    m_pszData[nNew] = '\0';
    m_nDataLength = nNew;
}

char CString::GetAt(int nIndex) const {
    if (nIndex < 0 || nIndex > m_nDataLength)
        AfxThrowInvalidArgException();
    return GetString()[nIndex];
}

void CString::SetAt(int nIndex, char ch) {
    if (nIndex < 0 || nIndex >= m_nDataLength || ch == '\0')
        AfxThrowInvalidArgException();
    m_pszData[nIndex] = ch;
}

int CString::Compare(const char* psz) const {
    return std::strcmp(GetString(), psz ? psz : "");
}

int CString::CompareNoCase(const char* psz) const {
    const unsigned char* a = reinterpret_cast<const unsigned char*>(GetString());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(psz ? psz : "");
    for (;; ++a, ++b) {
        unsigned char ca = FoldAscii(*a);
        unsigned char cb = FoldAscii(*b);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
}

int CString::Find(char ch, int nStart) const {
    if (nStart < 0 || nStart >= m_nDataLength || ch == '\0')
        return -1;
    const char* p = static_cast<const char*>(
        std::memchr(m_pszData + nStart, ch, static_cast<std::size_t>(m_nDataLength - nStart)));
    return p ? static_cast<int>(p - m_pszData) : -1;
}

int CString::Find(const char* pszSub, int nStart) const {
    if (!pszSub || nStart < 0 || nStart > m_nDataLength)
        return -1;
    const char* p = std::strstr(GetString() + nStart, pszSub);
    return p ? static_cast<int>(p - GetString()) : -1;
}

int CString::FindOneOf(const char* pszCharSet) const {
    if (!pszCharSet || !*pszCharSet || !m_pszData)
        return -1;
    std::size_t n = std::strcspn(m_pszData, pszCharSet);
    return n < static_cast<std::size_t>(m_nDataLength) ? static_cast<int>(n) : -1;
}

CString CString::Left(int nCount) const {
    if (nCount <= 0)
        return CString();
    if (nCount > m_nDataLength)
        nCount = m_nDataLength;
    return CString(m_pszData, nCount);
}

CString CString::Right(int nCount) const {
    if (nCount <= 0)
        return CString();
    if (nCount > m_nDataLength)
        nCount = m_nDataLength;
    return CString(m_pszData + (m_nDataLength - nCount), nCount);
}

CString CString::Mid(int nFirst) const {
    return Mid(nFirst, INT_MAX);
}

CString CString::Mid(int nFirst, int nCount) const {
    if (nFirst < 0)
        nFirst = 0;
    if (nCount <= 0 || nFirst >= m_nDataLength)
        return CString();
    if (nCount > m_nDataLength - nFirst)
        nCount = m_nDataLength - nFirst;
    return CString(m_pszData + nFirst, nCount);
}

int CString::Remove(char ch) {
    if (ch == '\0' || !m_pszData)
        return 0;
    int nOut = 0;
    for (int i = 0; i < m_nDataLength; ++i) {
        if (m_pszData[i] != ch)
            m_pszData[nOut++] = m_pszData[i];
    }
    int nRemoved = m_nDataLength - nOut;
    m_pszData[nOut] = '\0';
    m_nDataLength = nOut;
    return nRemoved;
}

int CString::Replace(char chOld, char chNew) {
    if (chOld == '\0' || chNew == '\0' || chOld == chNew)
        return 0;
    int n = 0;
    for (int i = 0; i < m_nDataLength; ++i) {
        if (m_pszData[i] == chOld) {
            m_pszData[i] = chNew;
            ++n;
        }
    }
    return n;
}

CString& CString::TrimLeft() {
    int i = 0;
    while (i < m_nDataLength && IsWhite(m_pszData[i]))
        ++i;
    if (i > 0)
        AssignCopy(m_pszData + i, m_nDataLength - i);
    return *this;
}

CString& CString::TrimRight() {
    int n = m_nDataLength;
    while (n > 0 && IsWhite(m_pszData[n - 1]))
        --n;
    if (n < m_nDataLength) {
        m_pszData[n] = '\0';
        m_nDataLength = n;
    }
    return *this;
}

void CString::FormatV(const char* pszFormat, va_list args) {
    if (!pszFormat) {
        Empty();
        return;
    }
    va_list probe;
    va_copy(probe, args);
    int n = std::vsnprintf(nullptr, 0, pszFormat, probe);
    va_end(probe);
    if (n < 0)
        AfxThrowInvalidArgException(); // malformed format or unrepresentable argument
    if (n > INT_MAX - 1)
        AfxThrowMemoryException();
    // Into a new buffer: the arguments may point into this string.
    CString result;
    if (n > 0) {
        result.Reserve(n, false);
        std::vsnprintf(result.m_pszData, static_cast<std::size_t>(n) + 1, pszFormat, args);
        result.m_nDataLength = static_cast<int>(std::strlen(result.m_pszData));
    }
    *this = static_cast<CString&&>(result);
}

void CString::Format(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    try {
        FormatV(pszFormat, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
}

CString operator+(const CString& a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(const CString& a, const char* b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(const char* a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(const CString& a, char b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(char a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}

bool operator==(const CString& a, const CString& b) {
    return a.GetLength() == b.GetLength() && a.Compare(b) == 0;
}
bool operator==(const CString& a, const char* b) {
    return a.Compare(b) == 0;
}
bool operator==(const char* a, const CString& b) {
    return b.Compare(a) == 0;
}
bool operator!=(const CString& a, const CString& b) {
    return !(a == b);
}
bool operator!=(const CString& a, const char* b) {
    return !(a == b);
}
bool operator!=(const char* a, const CString& b) {
    return !(a == b);
}
bool operator<(const CString& a, const CString& b) {
    return a.Compare(b) < 0;
}
