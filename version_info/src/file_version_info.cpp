// CFileVersionInfo over the version functions (the system's on Windows, the stand-ins of
// platform/win_resources.h elsewhere).
//
// The version block is allocated with a small header in front that records its size, so that
// a copy can duplicate it (the class itself keeps no size) and so that the translation count
// can be held to what the block really contains. m_pVersionBlock points past the header.
#include <edrith.h>

#include <platform/afx_object.h>
#include <platform/win_resources.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kBlockHeader = alignof(std::max_align_t) > sizeof(std::size_t)
                                         ? alignof(std::max_align_t)
                                         : sizeof(std::size_t);
constexpr DWORD kFixedSignature = 0xFEEF04BD;
constexpr int kKeySize = 260; // the lookup key's buffer, terminator included

BYTE* AllocBlock(std::size_t size) {
    if (size > static_cast<std::size_t>(-1) - kBlockHeader) {
        return nullptr;
    }
    BYTE* raw = static_cast<BYTE*>(std::malloc(kBlockHeader + size));
    if (raw == nullptr) {
        return nullptr;
    }
    std::memcpy(raw, &size, sizeof size);
    return raw + kBlockHeader;
}

std::size_t BlockSize(const BYTE* block) {
    std::size_t size = 0;
    std::memcpy(&size, block - kBlockHeader, sizeof size);
    return size;
}

void FreeBlock(BYTE* block) {
    if (block != nullptr) {
        std::free(block - kBlockHeader);
    }
}

// lstrcpynA: at most size - 1 bytes, always terminated.
void CopyCut(char* dst, const char* src, int size) {
    int i = 0;
    for (; i < size - 1 && src[i] != '\0'; ++i) {
        dst[i] = src[i];
    }
    dst[i] = '\0';
}

struct CodePageName {
    unsigned short wCP;
    const char* pszName;
};

const CodePageName kCodePages[] = {
    {0, "7-bit ASCII"},
    {932, "Japan (Shift ?JIS X-0208)"},
    {949, "Korea (Shift ?KSC 5601)"},
    {950, "Taiwan (Big5)"},
    {1200, "Unicode"},
    {1250, "Latin-2 (Eastern European)"},
    {1251, "Cyrillic"},
    {1252, "Multilingual"},
    {1253, "Greek"},
    {1254, "Turkish"},
    {1255, "Hebrew"},
    {1256, "Arabic"},
};

} // namespace

const char* CFileVersionInfo::s_ppszStr[13] = {
    "Comments",       "CompanyName",     "FileDescription",  "FileVersion",  "InternalName",
    "LegalCopyright", "LegalTrademarks", "OriginalFilename", "PrivateBuild", "ProductName",
    "ProductVersion", "SpecialBuild",    "OLESelfRegister",
};

CFileVersionInfo::CFileVersionInfo()
    : m_pVersionBlock(nullptr), m_pTransTable(nullptr), m_nCurTrans(0), m_nTransCount(0),
      m_bIsValid(FALSE) {
    std::memset(&m_FixedInfo, 0, sizeof m_FixedInfo);
}

CFileVersionInfo::~CFileVersionInfo() {
    Close();
}

CFileVersionInfo::CFileVersionInfo(const CFileVersionInfo& src) : CFileVersionInfo() {
    *this = src;
}

CFileVersionInfo& CFileVersionInfo::operator=(const CFileVersionInfo& src) {
    if (this == &src) {
        return *this;
    }
    BYTE* block = nullptr;
    if (src.m_pVersionBlock != nullptr) {
        const std::size_t size = BlockSize(src.m_pVersionBlock);
        block = AllocBlock(size);
        if (block == nullptr) {
            AfxThrowMemoryException(); // this object is left as it was
        }
        std::memcpy(block, src.m_pVersionBlock, size);
    }
    Close();
    m_pVersionBlock = block;
    m_FixedInfo = src.m_FixedInfo;
    m_pTransTable =
        src.m_pTransTable != nullptr && block != nullptr
            ? reinterpret_cast<DWORD*>(
                  block + (reinterpret_cast<const BYTE*>(src.m_pTransTable) - src.m_pVersionBlock))
            : nullptr;
    m_nCurTrans = src.m_nCurTrans;
    m_nTransCount = m_pTransTable != nullptr ? src.m_nTransCount : 0;
    m_bIsValid = src.m_bIsValid;
    return *this;
}

BOOL CFileVersionInfo::Open(HINSTANCE hInstance) {
    if (hInstance == nullptr) {
        return FALSE;
    }
    char szPath[MAX_PATH];
    std::memset(szPath, 0, sizeof szPath);
    const DWORD n = GetModuleFileNameA(hInstance, szPath, MAX_PATH);
    // A result of MAX_PATH means the path was cut; opening the cut path would read another
    // file or none.
    if (n == 0 || n >= MAX_PATH) {
        return FALSE;
    }
    return Open(szPath);
}

BOOL CFileVersionInfo::Open(const char* lpszPath) {
    if (lpszPath == nullptr) {
        return FALSE;
    }
    Close();
    if (GetVersionInfo(lpszPath) && QueryVersionTrans()) {
        return m_bIsValid;
    }
    Close();
    return m_bIsValid;
}

void CFileVersionInfo::Close() {
    m_pTransTable = nullptr;
    m_nCurTrans = 0;
    m_nTransCount = 0;
    m_bIsValid = FALSE;
    std::memset(&m_FixedInfo, 0, sizeof m_FixedInfo);
    FreeBlock(m_pVersionBlock);
    m_pVersionBlock = nullptr;
}

BOOL CFileVersionInfo::IsValid() const {
    return m_bIsValid;
}

BOOL CFileVersionInfo::GetVersionInfo(const char* lpszPath) {
    DWORD dwHandle = 0;
    const DWORD dwSize = GetFileVersionInfoSizeA(lpszPath, &dwHandle);
    if (dwSize == 0) {
        return m_bIsValid;
    }
    m_pVersionBlock = AllocBlock(dwSize);
    if (m_pVersionBlock == nullptr) {
        return m_bIsValid;
    }
    if (!GetFileVersionInfoA(lpszPath, 0, dwSize, m_pVersionBlock)) {
        return m_bIsValid;
    }
    void* pValue = nullptr;
    UINT nLength = 0;
    if (!VerQueryValueA(m_pVersionBlock, "\\", &pValue, &nLength) || pValue == nullptr) {
        return m_bIsValid;
    }
    // A root value shorter than a whole record is malformed: copying 52 bytes would read what
    // follows it, or past the block.
    if (nLength < sizeof(VS_FIXEDFILEINFO)) {
        return m_bIsValid;
    }
    std::memcpy(&m_FixedInfo, pValue, sizeof m_FixedInfo);
    m_bIsValid = m_FixedInfo.dwSignature == kFixedSignature ? TRUE : FALSE;
    return m_bIsValid;
}

BOOL CFileVersionInfo::QueryVersionTrans() {
    if (!m_bIsValid) {
        return FALSE;
    }
    void* pValue = nullptr;
    UINT nLength = 0;
    if (VerQueryValueA(m_pVersionBlock, "\\VarFileInfo\\Translation", &pValue, &nLength) &&
        pValue != nullptr) {
        BYTE* table = static_cast<BYTE*>(pValue);
        UINT count = nLength / 4;
        // Never count entries past the end of the block.
        const BYTE* end = m_pVersionBlock + BlockSize(m_pVersionBlock);
        if (table >= m_pVersionBlock && table <= end) {
            const std::size_t room = static_cast<std::size_t>(end - table) / 4;
            if (count > room) {
                count = static_cast<UINT>(room);
            }
            m_pTransTable = reinterpret_cast<DWORD*>(table);
            m_nTransCount = count;
        }
    }
    return m_pTransTable != nullptr ? TRUE : FALSE;
}

const VS_FIXEDFILEINFO& CFileVersionInfo::GetVSFFI() const {
    return m_FixedInfo;
}

WORD CFileVersionInfo::GetFileVersionMajor() const {
    return HIWORD(m_FixedInfo.dwFileVersionMS);
}
WORD CFileVersionInfo::GetFileVersionMinor() const {
    return LOWORD(m_FixedInfo.dwFileVersionMS);
}
WORD CFileVersionInfo::GetFileVersionBuild() const {
    return HIWORD(m_FixedInfo.dwFileVersionLS);
}
WORD CFileVersionInfo::GetFileVersionQFE() const {
    return LOWORD(m_FixedInfo.dwFileVersionLS);
}
WORD CFileVersionInfo::GetProductVersionMajor() const {
    return HIWORD(m_FixedInfo.dwProductVersionMS);
}
WORD CFileVersionInfo::GetProductVersionMinor() const {
    return LOWORD(m_FixedInfo.dwProductVersionMS);
}
WORD CFileVersionInfo::GetProductVersionBuild() const {
    return HIWORD(m_FixedInfo.dwProductVersionLS);
}
WORD CFileVersionInfo::GetProductVersionQFE() const {
    return LOWORD(m_FixedInfo.dwProductVersionLS);
}

UINT CFileVersionInfo::GetTransCount() const {
    return m_nTransCount;
}
UINT CFileVersionInfo::GetCurTransIndex() const {
    return m_nCurTrans;
}

DWORD CFileVersionInfo::GetTransByIndex(UINT nIndex) const {
    if (!m_bIsValid || m_pTransTable == nullptr || nIndex >= m_nTransCount) {
        return 0;
    }
    DWORD dwEntry = 0;
    std::memcpy(&dwEntry, m_pTransTable + nIndex, sizeof dwEntry);
    return dwEntry;
}

WORD CFileVersionInfo::GetLIDByIndex(UINT nIndex) const {
    return LOWORD(GetTransByIndex(nIndex));
}
WORD CFileVersionInfo::GetCPByIndex(UINT nIndex) const {
    return HIWORD(GetTransByIndex(nIndex));
}
DWORD CFileVersionInfo::GetCurTrans() const {
    return GetTransByIndex(m_nCurTrans);
}
WORD CFileVersionInfo::GetCurLID() const {
    return LOWORD(GetCurTrans());
}
WORD CFileVersionInfo::GetCurCP() const {
    return HIWORD(GetCurTrans());
}

int CFileVersionInfo::FindTrans(WORD wLID, WORD wCP) const {
    if (!m_bIsValid) {
        return -1;
    }
    for (UINT i = 0; i < m_nTransCount; ++i) {
        if (GetLIDByIndex(i) == wLID && GetCPByIndex(i) == wCP) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

BOOL CFileVersionInfo::SetTrans(WORD wLID, WORD wCP) {
    if (!m_bIsValid) {
        return FALSE;
    }
    if (GetCurLID() == wLID && GetCurCP() == wCP) {
        return TRUE;
    }
    const int nIndex = FindTrans(wLID, wCP);
    if (nIndex < 0) {
        return FALSE;
    }
    m_nCurTrans = static_cast<UINT>(nIndex);
    return TRUE;
}

BOOL CFileVersionInfo::SetTransIndex(UINT nIndex) {
    if (!m_bIsValid) {
        return FALSE;
    }
    if (nIndex == m_nCurTrans) {
        return TRUE;
    }
    if (nIndex >= m_nTransCount) {
        return FALSE;
    }
    m_nCurTrans = nIndex;
    return TRUE;
}

BOOL CFileVersionInfo::QueryStringValue(const char* lpszName, char* lpszBuffer,
                                        int nBufferSize) const {
    if (!m_bIsValid || lpszName == nullptr || (lpszBuffer != nullptr && nBufferSize <= 0)) {
        return FALSE;
    }
    if (lpszBuffer != nullptr) {
        std::memset(lpszBuffer, 0, static_cast<std::size_t>(nBufferSize));
    }
    char szKey[kKeySize];
    const int nKey = std::snprintf(szKey, sizeof szKey, "\\StringFileInfo\\%04X%04X\\%s",
                                   static_cast<unsigned>(GetCurLID()),
                                   static_cast<unsigned>(GetCurCP()), lpszName);
    // A name that does not fit the key is not looked up (a cut key could name another value).
    if (nKey < 0 || nKey >= kKeySize) {
        return FALSE;
    }
    void* pValue = nullptr;
    UINT nLength = 0;
    if (!VerQueryValueA(m_pVersionBlock, szKey, &pValue, &nLength)) {
        return FALSE;
    }
    if (lpszBuffer == nullptr) {
        return TRUE;
    }
    // An empty value leaves the zeroed buffer as it is.
    if (pValue != nullptr && nLength != 0) {
        CopyCut(lpszBuffer, static_cast<const char*>(pValue), nBufferSize);
    }
    return TRUE;
}

BOOL CFileVersionInfo::QueryStringValue(int nIndex, char* lpszBuffer, int nBufferSize) const {
    if (nIndex < 0 || nIndex > 12) {
        return FALSE;
    }
    return QueryStringValue(s_ppszStr[nIndex], lpszBuffer, nBufferSize);
}

const char* CFileVersionInfo::GetVerStringName(int nIndex) {
    return nIndex >= 0 && nIndex <= 12 ? s_ppszStr[nIndex] : nullptr;
}

CString CFileVersionInfo::GetFileVersion() {
    CString strResult;
    char szBuffer[32];
    if (QueryStringValue(9, szBuffer, sizeof szBuffer)) {
        strResult = szBuffer;
    }
    strResult += ' ';
    if (QueryStringValue(3, szBuffer, sizeof szBuffer)) {
        strResult += szBuffer;
    }
    return strResult;
}

int CFileVersionInfo::GetLIDName(unsigned short wLID, char* lpszBuffer, int nBufferSize) {
    if (lpszBuffer == nullptr || nBufferSize <= 0) {
        return 0;
    }
    return static_cast<int>(VerLanguageNameA(wLID, lpszBuffer, static_cast<DWORD>(nBufferSize)));
}

BOOL CFileVersionInfo::GetCPName(unsigned short wCP, const char** ppszName) {
    if (ppszName == nullptr) {
        return FALSE;
    }
    *ppszName = nullptr;
    for (const CodePageName& row : kCodePages) {
        if (row.wCP == wCP) {
            *ppszName = row.pszName;
            return TRUE;
        }
    }
    *ppszName = "Unknown";
    return FALSE;
}
