// Stand-ins of the module and resource functions.
//
// A module handle is the address of a Module. This code is linked statically into every
// library that uses it and into the client, so several copies of it live in one process and a
// handle made by one copy is used by another; a registry inside one copy would not know the
// others' handles. A handle therefore carries its own proof: a Module starts with a magic
// value and its own address, both checked before any use, and cleared when it is freed. The
// null handle and stray pointers to readable memory are refused; like a freed pointer, a freed
// handle must not be used again.
//
// A resource handle is the address of the resource's data entry inside the module's bytes, as
// on Windows, and is checked again against those bytes on every use.
#include <platform/win_resources.h>

#include <platform/pe_image.h>

#include <platform/posix_path.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

using dbpf::pe::PeFile;
using dbpf::pe::ResourceKey;
using dbpf::pe::ResourceLocation;
using dbpf::pe::Result;

constexpr std::uint64_t kModuleMagic = 0x4D4F44554C452D50ull; // "P-ELUDOM"

struct Module {
    std::uint64_t magic = kModuleMagic;
    const Module* self = this;
    std::string path;
    PeFile file;
};

Module* Lookup(HMODULE handle) {
    Module* m = reinterpret_cast<Module*>(handle);
    if (m == nullptr || reinterpret_cast<std::uintptr_t>(m) % alignof(Module) != 0 ||
        m->magic != kModuleMagic || m->self != m) {
        return nullptr;
    }
    return m;
}

// Offset of a resource handle inside the module's bytes, or false when it points elsewhere.
bool HandleOffset(const Module* m, HRSRC resource, std::uint32_t* offset) {
    const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(m->file.image().data());
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(resource);
    // Data entries lie in the resource section, whose offsets the file stores in 32 bits.
    if (at < base || at - base >= m->file.image().size() || at - base > 0xFFFFFFFFu) {
        return false;
    }
    *offset = static_cast<std::uint32_t>(at - base);
    return true;
}

bool ResolveHandle(HMODULE module, HRSRC resource, const Module** m, ResourceLocation* loc) {
    std::uint32_t offset = 0;
    *m = module != nullptr ? Lookup(module) : nullptr;
    return *m != nullptr && resource != nullptr && HandleOffset(*m, resource, &offset) &&
           (*m)->file.image().ResolveDataEntry(offset, loc) == Result::kOk;
}

// FindResourceA's lookup: the first language present in the order of PeImage::Find.
HRSRC Find(HMODULE module, LPCSTR type, LPCSTR name) {
    // The null module is the process's executable, which has no PE resources here.
    const Module* m = module != nullptr ? Lookup(module) : nullptr;
    if (m == nullptr || type == nullptr || name == nullptr) {
        return nullptr;
    }
    ResourceLocation loc;
    if (m->file.image().Find(ResourceKey::FromWin32(type), ResourceKey::FromWin32(name), 0, true,
                             &loc) != Result::kOk) {
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(
        const_cast<std::uint8_t*>(m->file.image().data() + loc.data_entry_offset));
}

DWORD CopyPath(const std::string& path, LPSTR buffer, DWORD size) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    if (path.size() >= size) {
        std::memcpy(buffer, path.data(), size - 1);
        buffer[size - 1] = '\0';
        return size; // cut, as Windows reports it
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

} // namespace

HMODULE LoadLibraryExA(LPCSTR path, HANDLE reserved, DWORD flags) {
    const DWORD data_flags = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE |
                             LOAD_LIBRARY_AS_IMAGE_RESOURCE;
    if (path == nullptr || reserved != nullptr || (flags & data_flags) == 0 ||
        (flags & ~data_flags) != 0) {
        return nullptr;
    }
    std::string posix;
    if (!dbpf::posix::ToPosixPath(path, &posix)) {
        return nullptr;
    }
    std::unique_ptr<Module> m(new Module);
    char* full = realpath(posix.c_str(), nullptr);
    if (full == nullptr) {
        return nullptr;
    }
    m->path = full;
    std::free(full);
    if (m->file.Load(m->path) != Result::kOk) {
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(m.release());
}

BOOL FreeLibrary(HMODULE module) {
    Module* m = Lookup(module);
    if (m == nullptr) {
        return FALSE;
    }
    m->magic = 0;
    m->self = nullptr;
    delete m;
    return TRUE;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    if (module == nullptr) {
        std::string exe(PATH_MAX + 1, '\0');
        const ssize_t n = readlink("/proc/self/exe", &exe[0], exe.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= exe.size()) {
            return 0;
        }
        exe.resize(static_cast<std::size_t>(n));
        return CopyPath(exe, buffer, size);
    }
    const Module* m = Lookup(module);
    return m != nullptr ? CopyPath(m->path, buffer, size) : 0;
}

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
    return Find(module, type, name);
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
    const Module* m = nullptr;
    ResourceLocation loc;
    return ResolveHandle(module, resource, &m, &loc) ? loc.size : 0;
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
    const Module* m = nullptr;
    ResourceLocation loc;
    if (!ResolveHandle(module, resource, &m, &loc)) {
        return nullptr;
    }
    return const_cast<std::uint8_t*>(m->file.image().data() + loc.file_offset);
}

LPVOID LockResource(HGLOBAL data) {
    return data;
}
