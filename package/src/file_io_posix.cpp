// POSIX: mmap for reading, open(O_EXCL) + rename for writing.
#include "file_io.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dbpf {
namespace detail {

namespace {

std::string SystemReason(int err) {
    return std::strerror(err);
}

// A temporary name beside `path`: ".<name>.<pid>-<n>.tmp". The counter keeps two writers of
// one process apart; O_EXCL keeps other processes apart.
std::string TemporaryName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%ld-%u.tmp", static_cast<long>(getpid()),
                  counter.fetch_add(1));
    return dir + "." + name + suffix;
}

} // namespace

MappedFile::~MappedFile() {
    if (data_ != nullptr) {
        munmap(const_cast<unsigned char*>(data_), size_);
    }
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool MappedFile::Open(const std::string& path, std::string& error) {
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        error = SystemReason(errno);
        return false;
    }
    struct stat st;
    if (fstat(fd_, &st) != 0) {
        error = SystemReason(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "not a regular file";
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) > SIZE_MAX) {
        error = "file too large to map";
        return false;
    }
    size_ = static_cast<std::size_t>(st.st_size);
    if (size_ == 0) {
        return true;
    }
    void* p = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
    if (p == MAP_FAILED) {
        error = SystemReason(errno);
        size_ = 0;
        return false;
    }
    data_ = static_cast<const unsigned char*>(p);
    return true;
}

AtomicOutput::~AtomicOutput() {
    Discard();
}

void AtomicOutput::Discard() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        unlink(temp_.c_str());
        temp_.clear();
    }
}

bool AtomicOutput::Create(const std::string& path, std::string& error) {
    path_ = path;
    temp_ = TemporaryName(path);
    fd_ = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        error = temp_ + ": " + SystemReason(errno);
        temp_.clear();
        return false;
    }
    return true;
}

bool AtomicOutput::Flush(std::string& error) {
    const char* p = buffer_.data();
    std::size_t left = buffer_.size();
    while (left > 0) {
        const ssize_t n = write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = SystemReason(errno);
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    buffer_.clear();
    return true;
}

bool AtomicOutput::Rewrite(const unsigned char* data, std::size_t size, std::string& error) {
    if (!Flush(error)) {
        return false;
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = SystemReason(errno);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool AtomicOutput::Commit(std::string& error) {
    if (!Flush(error)) {
        return false;
    }
    if (close(fd_) != 0) {
        fd_ = -1;
        error = SystemReason(errno);
        return false;
    }
    fd_ = -1;
    if (rename(temp_.c_str(), path_.c_str()) != 0) {
        error = SystemReason(errno);
        return false;
    }
    temp_.clear();
    return true;
}

} // namespace detail
} // namespace dbpf
