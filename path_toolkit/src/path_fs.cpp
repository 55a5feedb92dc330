// CPath: the queries that take the path to the file system.
//
// Every query works on the rebuilt path GetPath(0, 0) (location, title and extension, never
// the given text with its quotes and arguments), or on the location alone. Two pieces of
// state are left behind: the volume label cache, kept from its first non-empty answer until
// the next split, and the file information record, zeroed and refilled by every size or time
// query (the file is opened and closed within the call).
#include <corvane.h>

#include <platform/win_fs.h>

#include <cstring>

namespace {

const DWORD kDirectoryAttribute = 0x10; // FILE_ATTRIBUTE_DIRECTORY

// A base directory with every forward slash turned into a backslash, as the split turns the
// path's own slashes: the shell's path functions treat only the backslash as a separator.
CString BaseText(const char* lpszBase) {
    CString strBase(lpszBase);
    strBase.Replace('/', '\\');
    return strBase;
}

} // namespace

BOOL CPath::ExistFile() {
    if (m_strFileTitle.IsEmpty())
        return FALSE;
    return PathFileExistsA(GetPath(FALSE, FALSE)) ? TRUE : FALSE;
}

BOOL CPath::ExistLocation() {
    return PathFileExistsA(GetLocation()) ? TRUE : FALSE;
}

CString CPath::GetAbsolutePath(const char* lpszBase) {
    if (!m_bRelative || !lpszBase || !*lpszBase)
        return m_strEmpty;
    CString strText = AddBackSlash(BaseText(lpszBase), FALSE) + GetPath(FALSE, FALSE);
    // The shell's canonicaliser takes at most MAX_PATH - 1 characters.
    if (strText.GetLength() >= MAX_PATH)
        return m_strEmpty;
    char szResult[MAX_PATH];
    szResult[0] = '\0';
    if (!PathCanonicalizeA(szResult, strText))
        return m_strEmpty;
    return szResult;
}

CString CPath::GetRelativePath(const char* lpszBase) {
    if (m_bRelative || !lpszBase || !*lpszBase)
        return m_strEmpty;
    // One trailing separator of the base is dropped: C:\a\ and C:\a name the same directory,
    // and the shell's function would take the empty last component for one more level.
    // Roots (\, C:\) stay as they are.
    CString strBase = BaseText(lpszBase);
    const int nLength = strBase.GetLength();
    if (nLength > 1 && strBase[nLength - 1] == '\\' && strBase[nLength - 2] != ':')
        strBase = strBase.Left(nLength - 1);
    CString strPath = GetPath(FALSE, FALSE);
    if (strBase.GetLength() >= MAX_PATH || strPath.GetLength() >= MAX_PATH)
        return m_strEmpty;
    char szResult[MAX_PATH];
    szResult[0] = '\0';
    if (!PathRelativePathToA(szResult, strBase, kDirectoryAttribute, strPath,
                             IsFilePath() ? 0 : kDirectoryAttribute))
        return m_strEmpty;
    CString strResult(szResult);
    // A path below the base comes back as sub\file.txt, not .\sub\file.txt.
    if (strResult.GetLength() > 1 && strResult[0] == '.' && strResult[1] == '\\')
        strResult = strResult.Mid(2);
    return strResult;
}

CString CPath::GetShortPath() {
    char szResult[MAX_PATH];
    DWORD n = GetShortPathNameA(GetPath(FALSE, FALSE), szResult, MAX_PATH);
    // 0 is a failure; MAX_PATH or more is the size a larger buffer would need.
    if (n == 0 || n >= MAX_PATH)
        return m_strEmpty;
    return szResult;
}

CString CPath::GetLongPath() {
    char szResult[MAX_PATH];
    DWORD n = GetLongPathNameA(GetPath(FALSE, FALSE), szResult, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return m_strEmpty;
    return szResult;
}

// The volume asked for each kind of path:
//   C:\dir\x.txt            C:\                 (any path with drive and rooted directory)
//   \\server\share\x.txt    \\server\share\     (bServerName: the label is "server")
//   \home\u\x.txt           \                   (the root of the current drive)
//   x.txt, \\server\x.txt   "" (the platform's answer for an empty root; bServerName gives
//                           the first component, "" or "server")
//   rel\x.txt, C:rel\x.txt  nothing: relative paths have no label
CString CPath::GetDriveLabel(int bServerName) {
    if (!m_strDriveLabel.IsEmpty())
        return m_strDriveLabel;
    if (m_bRelative)
        return m_strEmpty;

    const bool bNetwork = m_strDir.GetLength() >= 2 && m_strDir[0] == '\\' && m_strDir[1] == '\\';
    const bool bRooted = !bNetwork && !m_strDir.IsEmpty() && m_strDir[0] == '\\';
    if (bServerName && m_strDrive.IsEmpty() && !bRooted) {
        m_strDriveLabel = GetDir(0);
        return m_strDriveLabel;
    }

    CString strRoot;
    if (!m_strDrive.IsEmpty())
        strRoot = m_strDrive + "\\";
    else if (bRooted)
        strRoot = "\\";
    else if (GetDirCount() >= 2)
        strRoot.Format("\\\\%s\\%s\\", static_cast<const char*>(GetDir(0)),
                       static_cast<const char*>(GetDir(1)));

    char szLabel[256];
    szLabel[0] = '\0';
    if (!GetVolumeInformationA(strRoot, szLabel, 255, nullptr, nullptr, nullptr, nullptr, 0))
        szLabel[0] = '\0';
    szLabel[255] = '\0';
    m_strDriveLabel = szLabel;
    return m_strDriveLabel;
}

int CPath::GetFileSize(__int64& nSize) {
    int nResult = FillFileInfoStruct();
    nSize = static_cast<__int64>((static_cast<unsigned long long>(m_FileInfo.nFileSizeHigh) << 32) |
                                 m_FileInfo.nFileSizeLow);
    return nResult;
}

int CPath::GetFileTime(CTime& time, DWORD dwWhich) {
    int nResult = FillFileInfoStruct();
    if (!nResult) {
        // The zero record's time lies before 1900, which is the zero time. Converting it
        // would fail west of Greenwich, where 1601-01-01 00:00 UTC has no local file time.
        time = CTime();
        return nResult;
    }
    const FILETIME* pTime;
    if (dwWhich == 0)
        pTime = &m_FileInfo.ftCreationTime;
    else if (dwWhich == 2)
        pTime = &m_FileInfo.ftLastWriteTime;
    else
        pTime = &m_FileInfo.ftLastAccessTime;
    time = CTime(*pTime, -1);
    return nResult;
}

int CPath::FillFileInfoStruct() {
    std::memset(&m_FileInfo, 0, sizeof m_FileInfo);
    // Read access shared with readers only; 0x27 asks for read-only, hidden, system and
    // archive, which opening an existing file ignores.
    HANDLE hFile = CreateFileA(GetPath(FALSE, FALSE), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0x27, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return 0;
    BOOL bOk = GetFileInformationByHandle(hFile, &m_FileInfo);
    CloseHandle(hFile);
    if (!bOk) {
        std::memset(&m_FileInfo, 0, sizeof m_FileInfo);
        return 0;
    }
    return 1;
}
