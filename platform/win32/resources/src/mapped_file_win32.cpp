// Read-only file mappings with the Windows file-mapping functions.
#include "mapped_file.h"

#include <windows.h>

namespace dbpf {
namespace pe {

namespace {

struct Handle {
    HANDLE h;
    ~Handle() {
        if (h != nullptr && h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
};

} // namespace

MappedFile::~MappedFile() {
    if (data_ != nullptr)
        UnmapViewOfFile(data_);
    if (handle_ != nullptr)
        CloseHandle(static_cast<HANDLE>(handle_));
}

Result MappedFile::Open(const std::string& path, std::unique_ptr<MappedFile>* out) {
    Handle file{CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (file.h == INVALID_HANDLE_VALUE)
        return Result::kIoError;
    if (GetFileType(file.h) != FILE_TYPE_DISK)
        return Result::kNotFile;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.h, &size))
        return Result::kIoError;
    if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX)
        return Result::kTooLarge;
    std::unique_ptr<MappedFile> m(new MappedFile);
    if (size.QuadPart != 0) {
        m->handle_ = CreateFileMappingA(file.h, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (m->handle_ == nullptr)
            return Result::kIoError;
        void* p = MapViewOfFile(static_cast<HANDLE>(m->handle_), FILE_MAP_READ, 0, 0, 0);
        if (p == nullptr)
            return GetLastError() == ERROR_NOT_ENOUGH_MEMORY ? Result::kTooLarge : Result::kIoError;
        m->data_ = static_cast<const std::uint8_t*>(p);
        m->size_ = static_cast<std::size_t>(size.QuadPart);
    }
    *out = std::move(m);
    return Result::kOk;
}

} // namespace pe
} // namespace dbpf
