// CStdioFile, CFileException and AfxMessageBox.
//
// The stream is opened in binary on both targets and the text mode is applied byte by byte in
// GetByte(): a CR LF pair becomes one LF, and a 0x1A byte is pushed back and reported as the
// end, so every later read meets it again and the data stays ended. The object counts the raw
// bytes it takes from the stream itself (ftell is not asked: it fails on pipes, and it is dear
// per byte), which is why Read goes through GetByte in binary mode too.
#include <platform/afx_file.h>
#include <platform/posix_path.h>

#include <cerrno>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const char* CauseText(int cause) {
    switch (cause) {
    case CFileException::none:
        return "No error occurred.";
    case CFileException::fileNotFound:
        return "The file could not be found.";
    case CFileException::badPath:
        return "All or part of the path is invalid.";
    case CFileException::tooManyOpenFiles:
        return "Too many files are open.";
    case CFileException::accessDenied:
        return "Access to the file was denied.";
    case CFileException::invalidFile:
        return "An invalid file handle was used.";
    case CFileException::removeCurrentDir:
        return "The current directory cannot be removed.";
    case CFileException::directoryFull:
        return "The directory is full.";
    case CFileException::badSeek:
        return "The file position could not be set.";
    case CFileException::hardIO:
        return "A hardware I/O error occurred.";
    case CFileException::sharingViolation:
        return "The file is in use by another process.";
    case CFileException::lockViolation:
        return "A locked region of the file was accessed.";
    case CFileException::diskFull:
        return "The disk is full.";
    case CFileException::endOfFile:
        return "The end of the file was reached.";
    default:
        return "An unspecified error occurred while accessing the file.";
    }
}

#ifdef _WIN32

int CauseFromOsError(DWORD err) {
    switch (err) {
    case ERROR_FILE_NOT_FOUND:
        return CFileException::fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
        return CFileException::badPath;
    case ERROR_TOO_MANY_OPEN_FILES:
        return CFileException::tooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
        return CFileException::accessDenied;
    case ERROR_INVALID_HANDLE:
        return CFileException::invalidFile;
    case ERROR_SHARING_VIOLATION:
        return CFileException::sharingViolation;
    case ERROR_LOCK_VIOLATION:
        return CFileException::lockViolation;
    case ERROR_HANDLE_EOF:
        return CFileException::endOfFile;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_GEN_FAILURE:
        return CFileException::hardIO;
    default:
        return CFileException::genericException;
    }
}

const LONG kInvalidArgument = ERROR_INVALID_PARAMETER;

// The system's text for err without its trailing line break; empty when there is none.
std::string OsErrorText(LONG err) {
    char buf[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(err), 0, buf, sizeof buf, nullptr);
    std::string text(buf, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

#else

int CauseFromOsError(int err) {
    switch (err) {
    case ENOENT:
        return CFileException::fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return CFileException::badPath;
    case EMFILE:
    case ENFILE:
        return CFileException::tooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return CFileException::accessDenied;
    case EBADF:
        return CFileException::invalidFile;
    case ETXTBSY:
    case EBUSY:
        return CFileException::sharingViolation;
    case EIO:
        return CFileException::hardIO;
    default:
        return CFileException::genericException;
    }
}

const LONG kInvalidArgument = EINVAL;

// strerror_r comes in two shapes (GNU returns the text, XSI fills the buffer); both go here.
[[maybe_unused]] const char* PickErrorText(int result, const char* buf) {
    return result == 0 ? buf : nullptr;
}
[[maybe_unused]] const char* PickErrorText(const char* result, const char*) {
    return result;
}

std::string OsErrorText(LONG err) {
    char buf[256] = {0};
    const char* text = PickErrorText(strerror_r(static_cast<int>(err), buf, sizeof buf), buf);
    return text != nullptr ? std::string(text) : std::string();
}

#endif

void Fill(CFileException* pError, int cause, LONG lOsError, const char* name) {
    if (pError == nullptr)
        return;
    pError->m_cause = cause;
    pError->m_lOsError = lOsError;
    pError->m_strFileName = name;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// CFileException

CFileException::~CFileException() {}

BOOL CFileException::GetErrorMessage(char* lpszError, UINT nMaxError, UINT* pnHelpContext) const {
    if (pnHelpContext != nullptr)
        *pnHelpContext = 0;
    if (lpszError == nullptr || nMaxError == 0)
        return FALSE;
    std::string description;
    if (m_lOsError != 0 && m_lOsError != -1)
        description = OsErrorText(m_lOsError);
    if (description.empty())
        description = CauseText(m_cause);
    std::string text;
    if (!m_strFileName.IsEmpty()) {
        text = m_strFileName.GetString();
        text += ": ";
    }
    text += description;
    std::size_t n = text.size() < nMaxError - 1 ? text.size() : nMaxError - 1;
    std::memcpy(lpszError, text.data(), n);
    lpszError[n] = '\0';
    return TRUE;
}

void AfxThrowFileException(int cause, LONG lOsError, const char* lpszFileName) {
    throw new CFileException(cause, lOsError, lpszFileName);
}

// ---------------------------------------------------------------------------------------------
// CStdioFile

CStdioFile::~CStdioFile() {
    Close();
}

BOOL CStdioFile::Open(const char* lpszFileName, UINT nOpenFlags, CFileException* pError) {
    if (m_pStream != nullptr) {
        // Opening over an open file would lose the stream someone may still be reading.
        Fill(pError, CFileException::genericException, -1, lpszFileName);
        return FALSE;
    }
    if (lpszFileName == nullptr || lpszFileName[0] == '\0') {
        Fill(pError, CFileException::badPath, -1, lpszFileName);
        return FALSE;
    }
    const UINT share = nOpenFlags & 0x70u;
    const bool readOnly = (nOpenFlags & 0x3u) == modeRead && (nOpenFlags & modeCreate) == 0;
    const bool bothTypes = (nOpenFlags & typeText) != 0 && (nOpenFlags & typeBinary) != 0;
    if (!readOnly || bothTypes || share > shareDenyNone) {
        Fill(pError, CFileException::genericException, kInvalidArgument, lpszFileName);
        return FALSE;
    }
    const bool inherit = (nOpenFlags & modeNoInherit) == 0;

#ifdef _WIN32
    DWORD dwShare = 0;
    if (share == shareDenyWrite)
        dwShare = FILE_SHARE_READ;
    else if (share == shareDenyRead)
        dwShare = FILE_SHARE_WRITE;
    else if (share == shareDenyNone)
        dwShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, inherit ? TRUE : FALSE};
    HANDLE h = CreateFileA(lpszFileName, GENERIC_READ, dwShare, &sa, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        Fill(pError, CauseFromOsError(err), static_cast<LONG>(err), lpszFileName);
        return FALSE;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd == -1) {
        CloseHandle(h);
        Fill(pError, CFileException::tooManyOpenFiles, ERROR_TOO_MANY_OPEN_FILES, lpszFileName);
        return FALSE;
    }
    std::FILE* f = _fdopen(fd, "rb");
    if (f == nullptr) {
        _close(fd); // closes h too
        Fill(pError, CFileException::tooManyOpenFiles, ERROR_TOO_MANY_OPEN_FILES, lpszFileName);
        return FALSE;
    }
#else
    std::string path;
    if (!dbpf::posix::ToPosixPath(lpszFileName, &path)) {
        Fill(pError, CFileException::badPath, ENOENT, lpszFileName);
        return FALSE;
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | (inherit ? 0 : O_CLOEXEC));
    if (fd < 0) {
        int err = errno;
        Fill(pError, CauseFromOsError(err), err, lpszFileName);
        return FALSE;
    }
    // A directory opens on POSIX but is not a file; Windows refuses it as access denied.
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        Fill(pError, CauseFromOsError(err), err, lpszFileName);
        return FALSE;
    }
    std::FILE* f = ::fdopen(fd, "rb");
    if (f == nullptr) {
        int err = errno;
        ::close(fd);
        Fill(pError, CauseFromOsError(err), err, lpszFileName);
        return FALSE;
    }
#endif
    m_pStream = f;
    m_strFileName = lpszFileName;
    m_bText = (nOpenFlags & typeBinary) == 0;
    m_nPosition = 0;
    return TRUE;
}

void CStdioFile::ThrowReadError() const {
#ifdef _WIN32
    LONG err = static_cast<LONG>(GetLastError());
    if (err == 0)
        err = -1;
    int cause = CauseFromOsError(static_cast<DWORD>(err));
#else
    LONG err = errno != 0 ? errno : -1;
    int cause = CauseFromOsError(static_cast<int>(err));
#endif
    if (cause == CFileException::genericException)
        cause = CFileException::hardIO;
    AfxThrowFileException(cause, err, m_strFileName.GetString());
}

int CStdioFile::GetByteSlow(int c) {
    if (c == EOF) {
        if (std::ferror(m_pStream))
            ThrowReadError();
        return -1;
    }
    ++m_nPosition;
    if (!m_bText)
        return c;
    if (c == '\r') {
        int d = GetcNoLock(m_pStream);
        if (d == '\n') {
            ++m_nPosition;
            return '\n';
        }
        if (d == EOF) {
            if (std::ferror(m_pStream))
                ThrowReadError();
        } else {
            std::ungetc(d, m_pStream);
        }
        return '\r';
    }
    // 0x1A: pushed back, so that every later read meets it again.
    std::ungetc(c, m_pStream);
    --m_nPosition;
    return -1;
}

UINT CStdioFile::Read(void* lpBuf, UINT nCount) {
    if (m_pStream == nullptr || lpBuf == nullptr)
        return 0;
    unsigned char* p = static_cast<unsigned char*>(lpBuf);
    UINT n = 0;
    while (n < nCount) {
        int c = GetByte();
        if (c < 0)
            break;
        p[n++] = static_cast<unsigned char>(c);
    }
    return n;
}

BOOL CStdioFile::ReadString(CString& rString) {
    rString.Empty();
    if (m_pStream == nullptr)
        return FALSE;
    // Collect in chunks so that a long line does not grow the string one byte at a time.
    char chunk[256];
    int n = 0;
    bool any = false;
    for (;;) {
        int c = GetByte();
        if (c < 0 || c == '\n' || c == '\0' || n == static_cast<int>(sizeof chunk)) {
            if (n > 0)
                rString += CString(chunk, n);
            n = 0;
        }
        if (c < 0)
            break;
        any = true;
        if (c == '\n')
            break;
        // A zero byte cannot live in a CString; it is read and left out of the line.
        if (c != '\0')
            chunk[n++] = static_cast<char>(c);
    }
    return any ? TRUE : FALSE;
}

char* CStdioFile::ReadString(char* lpsz, UINT nMax) {
    if (m_pStream == nullptr || lpsz == nullptr || nMax == 0)
        return nullptr;
    UINT n = 0;
    bool any = false;
    while (n + 1 < nMax) {
        int c = GetByte();
        if (c < 0)
            break;
        any = true;
        lpsz[n++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    lpsz[n] = '\0';
    return any || nMax == 1 ? lpsz : nullptr;
}

void CStdioFile::Close() {
    if (m_pStream == nullptr)
        return;
    std::FILE* f = m_pStream;
    m_pStream = nullptr;
    m_strFileName.Empty();
    m_nPosition = 0;
    std::fclose(f);
}

ULONGLONG CStdioFile::GetPosition() const {
    return m_pStream != nullptr ? m_nPosition : 0;
}

CString CStdioFile::GetFilePath() const {
    return m_strFileName;
}

// ---------------------------------------------------------------------------------------------
// Message box

namespace {

AFX_MESSAGE_BOX_HOOK FindMessageBoxHook() {
#ifdef _WIN32
    FARPROC p = GetProcAddress(GetModuleHandleA(nullptr), "AfxMessageBoxHook");
    return reinterpret_cast<AFX_MESSAGE_BOX_HOOK>(reinterpret_cast<void (*)()>(p));
#else
    return reinterpret_cast<AFX_MESSAGE_BOX_HOOK>(dlsym(RTLD_DEFAULT, "AfxMessageBoxHook"));
#endif
}

} // namespace

int AfxMessageBox(const char* lpszText, UINT nType, UINT nIDHelp) {
    if (lpszText == nullptr)
        lpszText = "";
    if (AFX_MESSAGE_BOX_HOOK hook = FindMessageBoxHook())
        return hook(lpszText, nType, nIDHelp);
#ifdef _WIN32
    // The caption is the executable's file title, as an application's boxes show it.
    char path[MAX_PATH + 1] = {0};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const char* title = nullptr;
    if (n > 0 && n < MAX_PATH) {
        char* start = path;
        for (char* p = path; *p != '\0'; ++p) {
            if (*p == '\\' || *p == '/')
                start = p + 1;
        }
        if (char* dot = std::strrchr(start, '.'))
            *dot = '\0';
        title = start;
    }
    return MessageBoxA(nullptr, lpszText, title, nType);
#else
    std::fprintf(stderr, "%s\n", lpszText);
    std::fflush(stderr);
    return IDOK;
#endif
}
