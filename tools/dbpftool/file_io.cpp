#include "file_io.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dbpftool {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr) {
            std::fclose(f);
        }
    }
};

bool ReadStream(std::FILE* f, std::vector<std::uint8_t>& out, std::string& error,
                std::uint64_t max_size) {
    out.clear();
    std::uint8_t chunk[1 << 16];
    for (;;) {
        std::size_t got = std::fread(chunk, 1, sizeof chunk, f);
        if (got > 0) {
            if (out.size() + got > max_size) {
                error = "file too large";
                return false;
            }
            out.insert(out.end(), chunk, chunk + got);
        }
        if (got < sizeof chunk) {
            if (std::ferror(f)) {
                error = std::strerror(errno);
                return false;
            }
            return true;
        }
    }
}

} // namespace

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out, std::string& error,
                   std::uint64_t max_size) {
    if (path == "-") {
#ifdef _WIN32
        _setmode(_fileno(stdin), 0x8000 /* _O_BINARY */);
#endif
        return ReadStream(stdin, out, error, max_size);
    }
    errno = 0;
    std::FILE* raw = std::fopen(path.c_str(), "rb");
    if (raw == nullptr) {
        error = errno != 0 ? std::strerror(errno) : "cannot open";
        return false;
    }
    std::unique_ptr<std::FILE, FileCloser> f(raw);
    return ReadStream(f.get(), out, error, max_size);
}

namespace {

// The temporary files of the writes in progress, for the signal handler. Several threads may
// write at once (package extract), so each write claims a slot: free -> claimed (its name being
// copied) -> named -> free. The handler removes the files of named slots only, so it never sees
// half a name. A write that finds every slot taken waits for one.
constexpr int kSlots = 64;
struct TempSlot {
    char name[4096];
    std::atomic<int> state{0}; // 0 free, 1 claimed, 2 named
};
TempSlot g_slots[kSlots];

// Claims a slot for `name`; returns its number, or -1 when the name is too long to keep (the
// write then goes on without the handler's help, as before).
int SetTempName(const std::string& name) {
    if (name.size() >= sizeof g_slots[0].name) {
        return -1;
    }
    for (;;) {
        for (int i = 0; i < kSlots; ++i) {
            int expected = 0;
            if (g_slots[i].state.compare_exchange_strong(expected, 1)) {
                std::memcpy(g_slots[i].name, name.c_str(), name.size() + 1);
                g_slots[i].state.store(2);
                return i;
            }
        }
        std::this_thread::yield();
    }
}

void ClearTempName(int slot) {
    if (slot >= 0) {
        g_slots[slot].state.store(0);
    }
}

void RemoveTemporaries() {
    for (TempSlot& slot : g_slots) {
        if (slot.state.load() == 2) {
#ifdef _WIN32
            DeleteFileA(slot.name);
#else
            unlink(slot.name);
#endif
        }
    }
}

// Deferred mode (DeferInterruptions): the first signal is only noted, for the command to stop
// in order; a second one ends the process at once.
std::atomic<bool> g_defer{false};
std::atomic<int> g_pendingSignal{0};

extern "C" void RemoveTempAndDie(int sig) {
    if (g_defer.load() && g_pendingSignal.load() == 0) {
        g_pendingSignal.store(sig);
        std::signal(sig, RemoveTempAndDie); // Windows resets the handler on delivery
        return;
    }
    RemoveTemporaries();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// Splits `path` into its directory ("." when it has none) and the prefix that a name in that
// directory needs ("" or "dir/").
void SplitDirectory(const std::string& path, std::string& dir, std::string& prefix) {
#ifdef _WIN32
    const std::size_t slash = path.find_last_of("/\\:");
#else
    const std::size_t slash = path.find_last_of('/');
#endif
    if (slash == std::string::npos) {
        dir = ".";
        prefix.clear();
        return;
    }
    prefix = path.substr(0, slash + 1);
    dir = slash == 0 ? prefix : path.substr(0, slash);
}

unsigned long ProcessId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

const char kTempStem[] = ".dbpftool-";
const char kTempSuffix[] = ".tmp";

// A name no other write uses: this process's id and a counter.
std::string TempNameIn(const std::string& prefix) {
    static std::atomic<unsigned long> counter{0};
    return prefix + kTempStem + std::to_string(ProcessId()) + "-" +
           std::to_string(counter.fetch_add(1)) + kTempSuffix;
}

#ifndef _WIN32
// Parses ".dbpftool-<pid>-<n>.tmp"; returns 0 for any other name.
pid_t TempOwner(const char* name) {
    const std::size_t stem = sizeof kTempStem - 1;
    const std::size_t suffix = sizeof kTempSuffix - 1;
    const std::size_t len = std::strlen(name);
    if (len <= stem + suffix || std::strncmp(name, kTempStem, stem) != 0 ||
        std::strcmp(name + len - suffix, kTempSuffix) != 0) {
        return 0;
    }
    unsigned long pid = 0;
    std::size_t i = stem;
    for (; i < len && name[i] >= '0' && name[i] <= '9'; ++i) {
        pid = pid * 10 + static_cast<unsigned long>(name[i] - '0');
        if (pid > 0x7FFFFFFFul) {
            return 0;
        }
    }
    if (i == stem || name[i] != '-') {
        return 0;
    }
    for (++i; i < len - suffix; ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return 0;
        }
    }
    return static_cast<pid_t>(pid);
}

// Removes the temporary files that writers killed outright left in `dir`: only those whose
// process no longer exists, so that a write running at the same time keeps its own.
void RemoveStaleTemporaries(const std::string& dir, const std::string& prefix) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        return;
    }
    while (const dirent* e = readdir(d)) {
        const pid_t owner = TempOwner(e->d_name);
        if (owner > 0 && owner != getpid() && kill(owner, 0) != 0 && errno == ESRCH) {
            unlink((prefix + e->d_name).c_str());
        }
    }
    closedir(d);
}

// As RemoveStaleTemporaries, once per directory and process: extract writes thousands of files
// into one directory, and a scan per file would cost time quadratic in their number.
void RemoveStaleTemporariesOnce(const std::string& dir, const std::string& prefix) {
    static std::mutex mutex;
    static std::set<std::string> done;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!done.insert(dir).second) {
            return;
        }
    }
    RemoveStaleTemporaries(dir, prefix);
}

bool WriteAll(int fd, const void* data, std::size_t size, std::string& error) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const std::size_t chunk = size < (std::size_t(1) << 30) ? size : std::size_t(1) << 30;
        const ssize_t n = write(fd, p, chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = std::strerror(errno);
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool CloseChecked(int fd, bool ok, std::string& error) {
    if (close(fd) != 0 && ok) {
        error = std::strerror(errno);
        return false;
    }
    return ok;
}

bool RenameOver(const std::string& tmp, const std::string& path, std::string& error) {
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

#ifdef O_TMPFILE
enum class Anonymous { kDone, kFailed, kUnsupported };

// Writes into an unnamed file of `dir` and links it in under a temporary name only once it is
// complete.
Anonymous WriteAnonymous(const std::string& dir, const std::string& prefix, const std::string& path,
                         const void* data, std::size_t size, std::string& error) {
    const int fd = open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        // File systems without unnamed files, and kernels that do not know the flag.
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
            return Anonymous::kUnsupported;
        }
        error = std::strerror(errno);
        return Anonymous::kFailed;
    }
    bool ok = WriteAll(fd, data, size, error);
    if (ok) {
        const std::string tmp = TempNameIn(prefix);
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        const int slot = SetTempName(tmp);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, tmp.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            ClearTempName(slot);
            if (errno == ENOENT && access("/proc/self/fd", F_OK) != 0) {
                close(fd);
                return Anonymous::kUnsupported; // no /proc to link through
            }
            error = std::strerror(errno);
            ok = false;
        } else {
            ok = CloseChecked(fd, ok, error) && RenameOver(tmp, path, error);
            if (!ok) {
                unlink(tmp.c_str());
            }
            ClearTempName(slot);
            return ok ? Anonymous::kDone : Anonymous::kFailed;
        }
    }
    close(fd);
    return Anonymous::kFailed;
}
#endif
#endif // !_WIN32

} // namespace

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size,
                         std::string& error) {
    std::string dir;
    std::string prefix;
    SplitDirectory(path, dir, prefix);
#ifdef _WIN32
    const std::string tmp = TempNameIn(prefix);
    const int slot = SetTempName(tmp);
    // Shared for deletion, so that the signal handler can remove it while it is open.
    HANDLE h = CreateFileA(tmp.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        ClearTempName(slot);
        error = "cannot create temporary file";
        return false;
    }
    bool ok = true;
    const char* p = static_cast<const char*>(data);
    std::size_t left = size;
    while (ok && left > 0) {
        const DWORD chunk = left < (1u << 30) ? static_cast<DWORD>(left) : (1u << 30);
        DWORD written = 0;
        ok = WriteFile(h, p, chunk, &written, nullptr) != 0 && written == chunk;
        p += chunk;
        left -= chunk;
    }
    if (!ok) {
        error = "cannot write temporary file";
    }
    if (CloseHandle(h) == 0 && ok) {
        error = "cannot write temporary file";
        ok = false;
    }
    if (ok && MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) == 0) {
        error = "cannot rename temporary file";
        ok = false;
    }
    if (!ok) {
        DeleteFileA(tmp.c_str());
    }
    ClearTempName(slot);
    return ok;
#else
    RemoveStaleTemporariesOnce(dir, prefix);
#ifdef O_TMPFILE
    switch (WriteAnonymous(dir, prefix, path, data, size, error)) {
    case Anonymous::kDone:
        return true;
    case Anonymous::kFailed:
        return false;
    case Anonymous::kUnsupported:
        break;
    }
#endif
    const std::string tmp = TempNameIn(prefix);
    const int slot = SetTempName(tmp);
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        ClearTempName(slot);
        error = std::strerror(errno);
        return false;
    }
    bool ok = WriteAll(fd, data, size, error);
    ok = CloseChecked(fd, ok, error) && ok && RenameOver(tmp, path, error);
    if (!ok) {
        unlink(tmp.c_str());
    }
    ClearTempName(slot);
    return ok;
#endif
}

void RemoveTemporaryFilesOnSignals() {
    std::signal(SIGINT, RemoveTempAndDie);
    std::signal(SIGTERM, RemoveTempAndDie);
#ifdef _WIN32
    std::signal(SIGBREAK, RemoveTempAndDie);
#else
    std::signal(SIGHUP, RemoveTempAndDie);
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

void DeferInterruptions() {
    g_defer.store(true);
}

bool Interrupted() {
    return g_pendingSignal.load() != 0;
}

void DieIfInterrupted() {
    const int sig = g_pendingSignal.load();
    if (sig != 0) {
        RemoveTemporaries();
        std::signal(sig, SIG_DFL);
        std::raise(sig);
    }
}

OutputFile::~OutputFile() {
    Discard();
}

bool OutputFile::Create(const std::string& path, std::string& error) {
    Discard();
    path_ = path;
    std::string dir;
    std::string prefix;
    SplitDirectory(path, dir, prefix);
    tmp_ = TempNameIn(prefix);
    slot_ = SetTempName(tmp_);
#ifdef _WIN32
    HANDLE h = CreateFileA(tmp_.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        ClearTempName(slot_);
        slot_ = -1;
        error = "cannot create temporary file";
        return false;
    }
    handle_ = h;
#else
    RemoveStaleTemporariesOnce(dir, prefix);
    fd_ = open(tmp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        error = std::strerror(errno);
        ClearTempName(slot_);
        slot_ = -1;
        return false;
    }
#endif
    return true;
}

bool OutputFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size,
                         std::string& error) {
    const char* p = static_cast<const char*>(data);
#ifdef _WIN32
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (SetFilePointerEx(static_cast<HANDLE>(handle_), at, nullptr, FILE_BEGIN) == 0) {
        error = "cannot write temporary file";
        return false;
    }
    while (size > 0) {
        const DWORD chunk = size < (1u << 30) ? static_cast<DWORD>(size) : (1u << 30);
        DWORD written = 0;
        if (WriteFile(static_cast<HANDLE>(handle_), p, chunk, &written, nullptr) == 0 ||
            written != chunk) {
            error = "cannot write temporary file";
            return false;
        }
        p += chunk;
        size -= chunk;
    }
    return true;
#else
    while (size > 0) {
        const std::size_t chunk = size < (std::size_t(1) << 30) ? size : std::size_t(1) << 30;
        const ssize_t n = pwrite(fd_, p, chunk, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = std::strerror(errno);
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
#endif
}

bool OutputFile::Close(std::string& error) {
    bool ok = true;
#ifdef _WIN32
    if (handle_ != nullptr) {
        ok = CloseHandle(static_cast<HANDLE>(handle_)) != 0;
        handle_ = nullptr;
        if (!ok) {
            error = "cannot write temporary file";
        }
    }
#else
    if (fd_ >= 0) {
        ok = CloseChecked(fd_, true, error);
        fd_ = -1;
    }
#endif
    if (!ok) {
        Discard();
    }
    return ok;
}

bool OutputFile::Commit(std::string& error) {
    bool ok = Close(error);
#ifdef _WIN32
    if (ok && MoveFileExA(tmp_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING) == 0) {
        error = "cannot rename temporary file";
        ok = false;
    }
#else
    ok = ok && RenameOver(tmp_, path_, error);
#endif
    if (!ok) {
        Discard();
        return false;
    }
    ClearTempName(slot_);
    slot_ = -1;
    tmp_.clear();
    return true;
}

void OutputFile::Discard() {
#ifdef _WIN32
    if (handle_ != nullptr) {
        CloseHandle(static_cast<HANDLE>(handle_));
        handle_ = nullptr;
    }
    if (!tmp_.empty()) {
        DeleteFileA(tmp_.c_str());
    }
#else
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!tmp_.empty()) {
        unlink(tmp_.c_str());
    }
#endif
    ClearTempName(slot_);
    slot_ = -1;
    tmp_.clear();
}

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

} // namespace dbpftool
