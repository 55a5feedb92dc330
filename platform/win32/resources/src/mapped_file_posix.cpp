// Read-only file mappings with mmap.
#include "mapped_file.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dbpf {
namespace pe {

namespace {

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0)
            close(fd);
    }
};

} // namespace

MappedFile::~MappedFile() {
    if (data_ != nullptr)
        munmap(const_cast<std::uint8_t*>(data_), size_);
}

Result MappedFile::Open(const std::string& path, std::unique_ptr<MappedFile>* out) {
    // O_NONBLOCK: opening a named pipe must not wait for a writer; it is refused below.
    Fd f{open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (f.fd < 0)
        return Result::kIoError;
    struct stat st;
    if (fstat(f.fd, &st) != 0)
        return Result::kIoError;
    if (!S_ISREG(st.st_mode))
        return Result::kNotFile;
    if (st.st_size < 0 || std::uint64_t(st.st_size) > SIZE_MAX)
        return Result::kTooLarge;
    std::unique_ptr<MappedFile> m(new MappedFile);
    m->size_ = static_cast<std::size_t>(st.st_size);
    if (m->size_ != 0) {
        void* p = mmap(nullptr, m->size_, PROT_READ, MAP_PRIVATE, f.fd, 0);
        if (p == MAP_FAILED) {
            m->size_ = 0;
            return errno == ENOMEM || errno == EOVERFLOW ? Result::kTooLarge : Result::kIoError;
        }
        m->data_ = static_cast<const std::uint8_t*>(p);
    }
    *out = std::move(m);
    return Result::kOk;
}

} // namespace pe
} // namespace dbpf
