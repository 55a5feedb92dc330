// Windows: a read-only file mapping for reading, CreateFile(CREATE_NEW) + MoveFileEx for
// writing. Paths are narrow strings in the ANSI code page, as everywhere in the suite.
#include "file_io.h"

#include <atomic>
#include <cstdio>

#include <windows.h>

namespace dbpf {
namespace detail {

namespace {

std::string SystemReason(DWORD err) {
    char text[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             err, 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.')) {
        --n;
    }
    if (n == 0) {
        std::snprintf(text, sizeof text, "system error %lu", static_cast<unsigned long>(err));
        return text;
    }
    return std::string(text, n);
}

std::string TemporaryName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = path.find_last_of("/\\:");
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%lu-%u.tmp",
                  static_cast<unsigned long>(GetCurrentProcessId()), counter.fetch_add(1));
    return dir + "." + name + suffix;
}

} // namespace

MappedFile::~MappedFile() {
    if (data_ != nullptr) {
        UnmapViewOfFile(data_);
    }
    if (mapping_ != nullptr) {
        CloseHandle(mapping_);
    }
    if (file_ != nullptr) {
        CloseHandle(file_);
    }
}

bool MappedFile::Open(const std::string& path, std::string& error) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemReason(GetLastError());
        return false;
    }
    file_ = file;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        error = SystemReason(GetLastError());
        return false;
    }
    if (static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX) {
        error = "file too large to map";
        return false;
    }
    if (size.QuadPart == 0) {
        return true; // an empty file cannot be mapped; it has no bytes to show anyway
    }
    mapping_ = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping_ == nullptr) {
        error = SystemReason(GetLastError());
        return false;
    }
    void* view = MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr) {
        error = SystemReason(GetLastError());
        return false;
    }
    data_ = static_cast<const unsigned char*>(view);
    size_ = static_cast<std::size_t>(size.QuadPart);
    return true;
}

AtomicOutput::~AtomicOutput() {
    Discard();
}

void AtomicOutput::Discard() {
    if (handle_ != nullptr) {
        CloseHandle(handle_);
        handle_ = nullptr;
    }
    if (!temp_.empty()) {
        DeleteFileA(temp_.c_str());
        temp_.clear();
    }
}

bool AtomicOutput::Create(const std::string& path, std::string& error) {
    path_ = path;
    temp_ = TemporaryName(path);
    HANDLE h = CreateFileA(temp_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = temp_ + ": " + SystemReason(GetLastError());
        temp_.clear();
        return false;
    }
    handle_ = h;
    return true;
}

bool AtomicOutput::Flush(std::string& error) {
    const char* p = buffer_.data();
    std::size_t left = buffer_.size();
    while (left > 0) {
        const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(handle_, p, chunk, &written, nullptr)) {
            error = SystemReason(GetLastError());
            return false;
        }
        p += written;
        left -= written;
    }
    buffer_.clear();
    return true;
}

bool AtomicOutput::Rewrite(const unsigned char* data, std::size_t size, std::string& error) {
    if (!Flush(error)) {
        return false;
    }
    LARGE_INTEGER start, end;
    start.QuadPart = 0;
    if (!SetFilePointerEx(handle_, start, &end, FILE_CURRENT) ||
        !SetFilePointerEx(handle_, start, nullptr, FILE_BEGIN)) {
        error = SystemReason(GetLastError());
        return false;
    }
    DWORD written = 0;
    if (!WriteFile(handle_, data, static_cast<DWORD>(size), &written, nullptr) || written != size) {
        error = SystemReason(GetLastError());
        return false;
    }
    if (!SetFilePointerEx(handle_, end, nullptr, FILE_BEGIN)) {
        error = SystemReason(GetLastError());
        return false;
    }
    return true;
}

bool AtomicOutput::Commit(std::string& error) {
    if (!Flush(error)) {
        return false;
    }
    CloseHandle(handle_);
    handle_ = nullptr;
    if (!MoveFileExA(temp_.c_str(), path_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = SystemReason(GetLastError());
        return false;
    }
    temp_.clear();
    return true;
}

} // namespace detail
} // namespace dbpf
