// POSIX stand-ins of the Windows file-system services in win_fs.h (all but the volume query,
// which lives in volume_posix.cpp).
#include <platform/win_fs.h>

#include <platform/posix_path.h>
#include "path_text.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What a HANDLE of CreateFileA points to. The tag tells file handles from anything else a
// caller might pass to CloseHandle.
struct FileHandle {
    static constexpr std::uint32_t kTag = 0x46494C45; // "FILE"
    std::uint32_t tag = kTag;
    int fd = -1;
};

FileHandle* AsFile(HANDLE h) {
    if (!h || h == INVALID_HANDLE_VALUE)
        return nullptr;
    FileHandle* f = static_cast<FileHandle*>(h);
    return f->tag == FileHandle::kTag ? f : nullptr;
}

constexpr std::int64_t kEpochDifference = 11644473600LL; // seconds from 1601 to 1970

// Seconds and nanoseconds since 1970 as a FILETIME; times before 1601 give zero.
FILETIME ToFileTime(std::int64_t seconds, std::uint32_t nanoseconds) {
    FILETIME ft = {0, 0};
    if (seconds < -kEpochDifference)
        return ft;
    std::uint64_t ticks =
        static_cast<std::uint64_t>(seconds + kEpochDifference) * 10000000u + nanoseconds / 100u;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

bool Exists(const char* path) {
    std::string p;
    struct stat st;
    return dbpf::posix::ToPosixPath(path, &p) && stat(p.c_str(), &st) == 0;
}

// The path itself when it exists, with the Windows return convention.
DWORD SamePathName(LPCSTR in, LPSTR out, DWORD size) {
    if (!in || !Exists(in))
        return 0;
    std::size_t n = std::strlen(in);
    if (!out || n + 1 > size)
        return static_cast<DWORD>(n + 1);
    std::memmove(out, in, n + 1);
    return static_cast<DWORD>(n);
}

} // namespace

extern "C" {

BOOL PathFileExistsA(LPCSTR pszPath) {
    return Exists(pszPath) ? TRUE : FALSE;
}

BOOL PathCanonicalizeA(LPSTR pszBuf, LPCSTR pszPath) {
    return path_text::Canonicalize(pszBuf, pszPath) ? TRUE : FALSE;
}

BOOL PathRelativePathToA(LPSTR pszPath, LPCSTR pszFrom, DWORD dwAttrFrom, LPCSTR pszTo,
                         DWORD dwAttrTo) {
    return path_text::RelativePathTo(pszPath, pszFrom, (dwAttrFrom & FILE_ATTRIBUTE_DIRECTORY) != 0,
                                     pszTo, (dwAttrTo & FILE_ATTRIBUTE_DIRECTORY) != 0)
               ? TRUE
               : FALSE;
}

DWORD GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
    return SamePathName(lpszLongPath, lpszShortPath, cchBuffer);
}

DWORD GetLongPathNameA(LPCSTR lpszShortPath, LPSTR lpszLongPath, DWORD cchBuffer) {
    return SamePathName(lpszShortPath, lpszLongPath, cchBuffer);
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD /*dwShareMode*/,
                   LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                   DWORD /*dwFlagsAndAttributes*/, HANDLE /*hTemplateFile*/) {
    std::string path;
    if (!dbpf::posix::ToPosixPath(lpFileName, &path))
        return INVALID_HANDLE_VALUE;
    int flags = O_CLOEXEC;
    const bool read = (dwDesiredAccess & GENERIC_READ) != 0;
    const bool write = (dwDesiredAccess & GENERIC_WRITE) != 0;
    flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    switch (dwCreationDisposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        flags |= O_TRUNC;
        break;
    default:
        return INVALID_HANDLE_VALUE;
    }
    int fd;
    do
        fd = open(path.c_str(), flags, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return INVALID_HANDLE_VALUE;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    FileHandle* h = new (std::nothrow) FileHandle;
    if (!h) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    h->fd = fd;
    return h;
}

BOOL GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
    FileHandle* f = AsFile(hFile);
    if (!f || !lpFileInformation)
        return FALSE;
    BY_HANDLE_FILE_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    std::uint64_t size, inode, device, links;
    std::uint32_t mode;
    FILETIME created, accessed, written;
#if defined(__linux__) && defined(STATX_BTIME)
    struct statx sx;
    if (statx(f->fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return FALSE;
    size = sx.stx_size;
    inode = sx.stx_ino;
    device = (static_cast<std::uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
    links = sx.stx_nlink;
    mode = sx.stx_mode;
    // The birth time where the file system records it, else the change time.
    const struct statx_timestamp& birth = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
    created = ToFileTime(birth.tv_sec, birth.tv_nsec);
    accessed = ToFileTime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
    written = ToFileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
#else
    struct stat st;
    if (fstat(f->fd, &st) != 0)
        return FALSE;
    size = static_cast<std::uint64_t>(st.st_size);
    inode = st.st_ino;
    device = st.st_dev;
    links = st.st_nlink;
    mode = st.st_mode;
#if defined(__APPLE__)
    created = ToFileTime(st.st_birthtimespec.tv_sec, st.st_birthtimespec.tv_nsec);
    accessed = ToFileTime(st.st_atimespec.tv_sec, st.st_atimespec.tv_nsec);
    written = ToFileTime(st.st_mtimespec.tv_sec, st.st_mtimespec.tv_nsec);
#else
    created = ToFileTime(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
    accessed = ToFileTime(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    written = ToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
#endif
#endif
    info.dwFileAttributes = (mode & 0222) == 0 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
    info.ftCreationTime = created;
    info.ftLastAccessTime = accessed;
    info.ftLastWriteTime = written;
    info.dwVolumeSerialNumber = static_cast<DWORD>(device ^ (device >> 32));
    info.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    info.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    info.nNumberOfLinks = static_cast<DWORD>(links > 0xFFFFFFFFu ? 0xFFFFFFFFu : links);
    info.nFileIndexHigh = static_cast<DWORD>(inode >> 32);
    info.nFileIndexLow = static_cast<DWORD>(inode & 0xFFFFFFFFu);
    *lpFileInformation = info;
    return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
    FileHandle* f = AsFile(hObject);
    if (!f)
        return FALSE;
    int rc = close(f->fd);
    f->tag = 0;
    delete f;
    return rc == 0 || errno == EINTR ? TRUE : FALSE;
}

} // extern "C"
