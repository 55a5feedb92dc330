// The operating system's part of the package library: a read-only mapping of a whole file, and
// an output file that appears under its name only once it is complete. One implementation per
// platform (file_io_posix.cpp, file_io_win32.cpp).
#pragma once

#include <cstddef>
#include <string>

namespace dbpf {
namespace detail {

// A file mapped read-only, unmapped by the destructor. An empty file has size 0 and no data.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Returns false and a reason in `error` when the file cannot be opened or mapped.
    bool Open(const std::string& path, std::string& error);

    const unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
#if defined(_WIN32)
    void* file_ = nullptr;
    void* mapping_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// A new file written under a temporary name in the directory of `path`, then renamed over
// `path` by Commit. Until then `path` is untouched; the destructor removes the temporary file
// of an output that was not committed.
class AtomicOutput {
public:
    AtomicOutput() = default;
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    bool Create(const std::string& path, std::string& error);
    // Gathers small writes and hands them to the system a MiB at a time.
    bool Write(const unsigned char* data, std::size_t size, std::string& error) {
        buffer_.append(reinterpret_cast<const char*>(data), size);
        return buffer_.size() < kFlushAt || Flush(error);
    }
    // Overwrites the first `size` bytes written (the header, known last).
    bool Rewrite(const unsigned char* data, std::size_t size, std::string& error);
    bool Commit(std::string& error);
    // Removes the temporary file (also done by the destructor).
    void Discard();

    const std::string& temporary_path() const { return temp_; }

private:
    static constexpr std::size_t kFlushAt = std::size_t{1} << 20;

    // Writes the gathered bytes (one implementation per platform).
    bool Flush(std::string& error);

    std::string path_;
    std::string temp_;
    std::string buffer_;
#if defined(_WIN32)
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

} // namespace detail
} // namespace dbpf
