// CPath: construction, split, rebuild and the accessors of the parts.
//
// The split works on a 260-byte copy of the text, as the platform's path functions do:
//   1. for a command line, the argument text is what follows the first blank outside double
//      quotes (PathGetArgsA), and the program path is cut before that blank;
//   2. one enclosing pair of double quotes is removed (PathUnquoteSpacesA);
//   3. _splitpath_s gives drive, directory, file name and extension (the last dot on);
//   4. slashes in the directory become backslashes.
// Lengths are checked before the bounded runtime calls, which would otherwise end the
// process on Windows: a text over 259 characters, or a part over 255, is refused and the
// object stays as after a split of an empty text.
#include <corvane.h>

#include <platform/win_shell.h>

#include <cstring>

namespace {

const int kMaxText = MAX_PATH - 1; // 259 characters in the 260-byte working buffer
const int kMaxPart = 255;          // directory, title and extension buffers hold 256 bytes

bool IsSeparator(char ch) {
    return ch == '\\' || ch == '/';
}

// Whether _splitpath_s will fit every part of pszText into our buffers: the drive is the first
// two characters when the second is a colon; the directory runs through the last separator;
// the extension from the last dot after it.
bool PartsFit(const char* pszText) {
    const char* p = pszText;
    if (p[0] != '\0' && p[1] == ':')
        p += 2;
    const char* dirEnd = p;
    const char* lastDot = nullptr;
    const char* q = p;
    for (; *q; ++q) {
        if (IsSeparator(*q)) {
            dirEnd = q + 1;
            lastDot = nullptr;
        } else if (*q == '.') {
            lastDot = q;
        }
    }
    const char* nameEnd = lastDot ? lastDot : q;
    return dirEnd - p <= kMaxPart && nameEnd - dirEnd <= kMaxPart && q - nameEnd <= kMaxPart;
}

} // namespace

CPath::CPath() : m_bRelative(FALSE) {
    std::memset(&m_FileInfo, 0, sizeof m_FileInfo);
}

CPath::CPath(const char* lpszPath, int bDirectory, int bArgs) : CPath() {
    SetPath(lpszPath, bDirectory, bArgs);
}

CPath::CPath(DWORD dwSource) : CPath() {
    SetPath(dwSource);
}

CPath::~CPath() {}

void CPath::SetPath(const char* lpszPath, int bDirectory, int bArgs) {
    // A new split starts from an empty object: no part of an earlier one survives.
    m_strPath.Empty();
    m_strDriveLabel.Empty();
    m_strExtName.Empty();
    m_aDir.RemoveAll();
    m_aArg.RemoveAll();
    m_bRelative = FALSE;
    m_strDrive.Empty();
    m_strDir.Empty();
    m_strFileTitle.Empty();
    m_strArgs.Empty();

    if (!lpszPath || std::strlen(lpszPath) > static_cast<std::size_t>(kMaxText))
        return;
    m_strPath = lpszPath;

    char szText[MAX_PATH];
    strcpy_s(szText, sizeof szText, lpszPath);
    if (bArgs) {
        m_strArgs = PathGetArgsA(szText);
        PathRemoveArgsA(szText);
    }
    PathUnquoteSpacesA(szText);
    if (szText[0] == '\0')
        return;

    if (!PartsFit(szText)) {
        m_strPath.Empty();
        m_strArgs.Empty();
        return;
    }
    char szDrive[3], szDir[kMaxPart + 1], szName[kMaxPart + 1], szExt[kMaxPart + 1];
    if (_splitpath_s(szText, szDrive, sizeof szDrive, szDir, sizeof szDir, szName, sizeof szName,
                     szExt, sizeof szExt) != 0) {
        m_strPath.Empty();
        m_strArgs.Empty();
        return;
    }

    m_strDrive = szDrive;
    m_strDir = szDir;
    m_strDir.Replace('/', '\\');
    if (!m_strDir.IsEmpty())
        m_bRelative = m_strDir[0] != '\\';

    if (bDirectory) {
        // The last component is a directory name: its dot-suffix belongs to it.
        m_strDir = AddBackSlash(m_strDir, FALSE) + szName + szExt;
        m_strDir = AddBackSlash(m_strDir, FALSE);
    } else {
        m_strFileTitle = szName;
    }
    if (!m_strFileTitle.IsEmpty()) {
        m_strExtName = szExt;
        m_strExtName.Remove('.');
    }
}

void CPath::SetPath(DWORD dwSource) {
    if (dwSource == 0) {
        SetPath(GetCommandLineA(), FALSE, TRUE);
    } else if (dwSource == 1) {
        char szName[MAX_PATH];
        DWORD n = GetModuleFileNameA(nullptr, szName, sizeof szName);
        // 0 is a failure and a full buffer a cut name: neither is the executable's path.
        if (n == 0 || n >= sizeof szName)
            szName[0] = '\0';
        SetPath(szName, FALSE, FALSE);
    }
}

const CPath& CPath::operator=(const char* lpszPath) {
    SetPath(lpszPath, FALSE, FALSE);
    return *this;
}

const CPath& CPath::operator=(CPath& src) {
    if (&src == this)
        return *this;
    m_aArg.RemoveAll();
    m_aArg.SetSize(src.m_aArg.GetSize());
    for (INT_PTR i = 0; i < src.m_aArg.GetSize(); ++i) {
        CArgument& to = m_aArg[i];
        const CArgument& from = src.m_aArg[i];
        to.m_chSwitch = from.m_chSwitch;
        to.m_strName = from.m_strName;
        to.m_strValue = from.m_strValue;
    }
    m_aDir.RemoveAll();
    m_aDir.Copy(src.m_aDir);
    m_bRelative = src.m_bRelative;
    m_FileInfo = src.m_FileInfo;
    m_strArgs = src.m_strArgs;
    m_strDir = src.m_strDir;
    m_strDrive = src.m_strDrive;
    m_strDriveLabel = src.m_strDriveLabel;
    m_strExtName = src.m_strExtName;
    m_strFileTitle = src.m_strFileTitle;
    m_strPath = src.m_strPath;
    return *this;
}

CPath::operator const char*() {
    m_strCast = GetPath(FALSE, FALSE);
    return m_strCast;
}

CString CPath::GetPath(int bArgs, int bInput) {
    CString strPath;
    if (!bInput) {
        strPath = GetLocation() + GetFileName();
    } else {
        strPath = m_strPath;
        if (bArgs) {
            // When the split took arguments from the given text, that text already holds
            // them: use its program part, so that the current arguments follow it once.
            // Whether it did is told by the split itself: splitting the text as a command
            // line gives the same path and a non-empty argument text.
            CPath probe;
            for (int bDirectory = 0; bDirectory <= 1; ++bDirectory) {
                probe.SetPath(m_strPath, bDirectory, TRUE);
                if (!probe.m_strArgs.IsEmpty() && probe.m_strDrive == m_strDrive &&
                    probe.m_strDir == m_strDir && probe.m_strFileTitle == m_strFileTitle &&
                    probe.m_strExtName == m_strExtName) {
                    char szText[MAX_PATH];
                    strcpy_s(szText, sizeof szText, m_strPath);
                    PathRemoveArgsA(szText);
                    strPath = szText;
                    break;
                }
            }
        }
    }
    if (bArgs) {
        CString strArgs = GetArgument(-1, FALSE);
        if (!strArgs.IsEmpty()) {
            if (!strPath.IsEmpty())
                strPath += ' ';
            strPath += strArgs;
        }
    }
    return strPath;
}

CString CPath::GetDrive() {
    return m_strDrive;
}

int CPath::GetDirCount() {
    FillDirArray();
    return static_cast<int>(m_aDir.GetSize());
}

CString CPath::GetDir(int nIndex) {
    if (nIndex < 0)
        return m_strDir;
    FillDirArray();
    if (nIndex >= m_aDir.GetSize())
        return m_strEmpty;
    return m_aDir[nIndex];
}

CString CPath::GetLocation() {
    return m_strDrive + m_strDir;
}

CString CPath::GetFileTitle() {
    return m_strFileTitle;
}

CString CPath::GetFileName() {
    return m_strFileTitle + GetExtension();
}

CString CPath::GetExtension() {
    if (m_strExtName.IsEmpty())
        return m_strEmpty;
    return "." + m_strExtName;
}

CString CPath::GetExtName() {
    return m_strExtName;
}

BOOL CPath::IsLocalPath() {
    return !m_strDrive.IsEmpty() && !m_bRelative;
}

BOOL CPath::IsRelativePath() {
    return m_bRelative;
}

BOOL CPath::IsFilePath() {
    return !m_strFileTitle.IsEmpty();
}

CString CPath::AddBackSlash(const char* lpszPath, int bSlash) {
    CString str(lpszPath);
    if (!str.IsEmpty() && !IsSeparator(str[str.GetLength() - 1]))
        str += bSlash ? '/' : '\\';
    return str;
}

CString CPath::RemoveBackSlash(const char* lpszPath) {
    CString str(lpszPath);
    if (!str.IsEmpty() && IsSeparator(str[str.GetLength() - 1]))
        str = str.Left(str.GetLength() - 1);
    return str;
}

// Components of the directory part, each closed by a backslash:
//   C:\dir\sub\          dir, sub        (the root backslash is skipped)
//   \tools\bin\          tools, bin      (rooted without drive: the same)
//   \\server\share\dir\  server, share, dir  (network: both leading backslashes skipped)
//   rel\x\               rel, x
//   a\\b\                a, "", b        (an empty component between two backslashes)
void CPath::FillDirArray() {
    if (m_strDir.IsEmpty() || m_aDir.GetSize() > 0)
        return;
    // Where the first component starts:
    //   relative ("rel\x\", "C:rel\")               0
    //   drive and root ("C:\a\", "C:\\a\")           1: only the root backslash; a second one
    //                                               starts an empty component
    //   no drive, two backslashes ("\\srv\sh\")    2: a network path; its server comes first
    //   no drive, one backslash ("\tools\bin\")    1: the root of the current drive
    int nStart = 0;
    if (!m_bRelative) {
        if (m_strDrive.IsEmpty() && m_strDir.GetLength() >= 2 && m_strDir[0] == '\\' &&
            m_strDir[1] == '\\')
            nStart = 2;
        else if (m_strDir[0] == '\\')
            nStart = 1;
    }
    for (int nEnd = m_strDir.Find('\\', nStart); nEnd >= 0; nEnd = m_strDir.Find('\\', nStart)) {
        m_aDir.Add(m_strDir.Mid(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
}
