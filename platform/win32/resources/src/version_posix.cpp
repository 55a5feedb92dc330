// Stand-ins of the version functions: the RT_VERSION resource (id 1) of the file, copied into
// a block laid out as version_block.h describes. The file is mapped again for each call, as
// Windows does, and only its headers and version resource are read; a file that changed in
// between no longer fits the caller's block and fails.
#include <platform/win_resources.h>

#include <platform/pe_image.h>
#include <platform/version_block.h>

#include <platform/posix_path.h>

#include <unicode/uloc.h>
#include <unicode/ustring.h>

#include <cstring>
#include <string>

namespace {

using dbpf::pe::PeFile;
using dbpf::pe::ResourceKey;
using dbpf::pe::ResourceLocation;
using dbpf::pe::Result;

// Loads the file and finds its version resource; false when either fails.
bool FindVersionResource(LPCSTR path, PeFile* file, ResourceLocation* loc) {
    std::string posix;
    if (path == nullptr || !dbpf::posix::ToPosixPath(path, &posix) ||
        file->Load(posix) != Result::kOk) {
        return false;
    }
    return file->image().Find(ResourceKey::Id(16), ResourceKey::Id(VS_VERSION_INFO), 0, true,
                              loc) == Result::kOk;
}

} // namespace

DWORD GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle) {
    if (handle != nullptr) {
        *handle = 0;
    }
    PeFile file;
    ResourceLocation loc;
    if (!FindVersionResource(path, &file, &loc)) {
        return 0;
    }
    return static_cast<DWORD>(
        dbpf::pe::VersionBlockSize(file.image().data() + loc.file_offset, loc.size));
}

BOOL GetFileVersionInfoA(LPCSTR path, DWORD /*handle*/, DWORD size, LPVOID block) {
    PeFile file;
    ResourceLocation loc;
    if (block == nullptr || !FindVersionResource(path, &file, &loc)) {
        return FALSE;
    }
    return dbpf::pe::FillVersionBlock(file.image().data() + loc.file_offset, loc.size, block, size)
               ? TRUE
               : FALSE;
}

BOOL VerQueryValueA(LPCVOID block, LPCSTR sub_block, LPVOID* value, UINT* length) {
    if (value == nullptr) {
        return FALSE;
    }
    // The block is the caller's own writable memory; like Windows, the query writes converted
    // text into its spare space although the parameter is declared constant.
    return dbpf::pe::QueryVersionBlockA(const_cast<void*>(block), sub_block, value, length) ? TRUE
                                                                                            : FALSE;
}

DWORD VerLanguageNameA(DWORD language, LPSTR buffer, DWORD size) {
    if (buffer != nullptr && size > 0) {
        buffer[0] = '\0';
    }
    UErrorCode status = U_ZERO_ERROR;
    char locale[ULOC_FULLNAME_CAPACITY] = {};
    const int32_t n = uloc_getLocaleForLCID(language & 0xFFFF, locale, sizeof locale, &status);
    if (U_FAILURE(status) || n <= 0) {
        return 0;
    }
    UChar name[256];
    status = U_ZERO_ERROR;
    const int32_t units = uloc_getDisplayName(locale, "en", name, 256, &status);
    if (U_FAILURE(status) || units <= 0 || units > 256) {
        return 0;
    }
    const std::string utf8 =
        dbpf::pe::Utf16ToUtf8(reinterpret_cast<const char16_t*>(name), std::size_t(units));
    if (buffer != nullptr && size > 0) {
        std::size_t copy = utf8.size();
        if (copy > size - 1) {
            copy = size - 1;
            while (copy > 0 && (static_cast<unsigned char>(utf8[copy]) & 0xC0) == 0x80) {
                --copy; // never leave half a character
            }
        }
        std::memcpy(buffer, utf8.data(), copy);
        buffer[copy] = '\0';
    }
    return static_cast<DWORD>(utf8.size());
}
