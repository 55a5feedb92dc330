// A file mapped read-only into memory, unmapped when the object goes. Only the pages that a
// reader touches are read from disk, so the cost of looking at a module's headers and
// resources does not grow with data appended behind them (signatures, installer payloads).
//
// A mapping shows the file as it is, not as it was: if another process truncates the file while
// it is mapped, reading a page that now lies past the end raises SIGBUS on POSIX systems
// (Windows refuses to truncate a mapped file). The bounds checks of the readers cannot catch
// that. The version functions keep a mapping only for the duration of one call; a module handle
// keeps its mapping until FreeLibrary, as on Windows.
#pragma once

#include <platform/pe_image.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace dbpf {
namespace pe {

class MappedFile {
public:
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    // Maps the whole of the regular file at `path`. An empty file gives an empty mapping.
    // Failures: kIoError (cannot open or map), kNotFile (not a regular file), kTooLarge (the
    // file does not fit into the address space).
    static Result Open(const std::string& path, std::unique_ptr<MappedFile>* out);

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    MappedFile() = default;

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    void* handle_ = nullptr; // the file-mapping object on Windows
};

} // namespace pe
} // namespace dbpf
