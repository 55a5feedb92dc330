// Reader of the resources of a Windows executable or DLL (PE32 and PE32+), used by the POSIX
// stand-ins of the module and version services and by their tests on every platform.
//
// The reader trusts nothing in the file. It works on a byte range that stays unchanged while the
// reader is in use (a PeFile owns one); every offset, size, count and directory depth read from
// the file is checked against that range before it is used, and the walk of the resource tree
// refuses a directory that is already on its path, so a tree that points back into itself ends
// with an error instead of a loop.
//
// The resource tree has three levels: type, name, language. Entries are found by integer id or
// by name; names compare as Windows compares them, ignoring case, over UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dbpf {
namespace pe {

enum class Result {
    kOk,
    kIoError,     // the file could not be opened or read
    kNotFile,     // the path names a directory, device or pipe, not a regular file
    kTooLarge,    // the file does not fit into the address space
    kNotPe,       // no MZ/PE signatures or an unknown optional-header magic
    kBadHeader,   // a header field points outside the file or contradicts another
    kNoResources, // the file has no resource directory
    kBadTree,     // a directory, entry, name or data entry lies outside the resources
    kLoop,        // a directory refers to a directory already on the walk's path
    kNotFound,    // no resource with that type, name and language
};

// Short English description of a result ("resource directory points outside the file").
const char* Describe(Result r);

// One level's key: an integer id (1..65535) or a name.
struct ResourceKey {
    bool is_id = true;
    std::uint16_t id = 0;
    std::u16string name; // when !is_id

    static ResourceKey Id(std::uint16_t n);
    static ResourceKey Name(std::u16string s);
    // The way the Win32 resource functions take a key: a value below 0x10000 is an integer id,
    // anything else a zero-terminated name in UTF-8; "#123" stands for the id 123.
    static ResourceKey FromWin32(const char* key);
};

// Where a resource's bytes lie in the file.
struct ResourceLocation {
    std::uint32_t data_entry_offset = 0; // file offset of the 16-byte data entry describing it
    std::uint32_t file_offset = 0;       // file offset of the first byte
    std::uint32_t size = 0;              // number of bytes
    std::uint16_t language = 0;          // the language id under which it was found
};

// One resource in the order of the tree, for listings.
struct ResourceInfo {
    ResourceKey type;
    ResourceKey name;
    std::uint16_t language = 0;
    ResourceLocation where;
};

// A parsed view of PE bytes. Holds pointers into the bytes given to Parse, which must outlive it.
class PeImage {
public:
    // Parses the headers and the section table and locates the resource directory. A PE
    // without resources parses successfully; its lookups give kNoResources.
    static Result Parse(const std::uint8_t* data, std::size_t size, PeImage* out);

    bool is_pe32_plus() const { return pe32_plus_; }
    std::uint16_t machine() const { return machine_; }
    bool has_resources() const { return rsrc_state_ == Result::kOk; }

    // Finds type/name/language. With any_language, the language is chosen in this order:
    // neutral (0), process default (0x400), system default (0x800), English (United States)
    // (0x409), then the first language the directory lists.
    Result Find(const ResourceKey& type, const ResourceKey& name, std::uint16_t language,
                bool any_language, ResourceLocation* out) const;

    // Re-reads a data entry found earlier (the value of ResourceLocation::data_entry_offset),
    // checking it again. Used for handles given out by the Win32 stand-ins.
    Result ResolveDataEntry(std::uint32_t data_entry_offset, ResourceLocation* out) const;

    // Every resource of the tree, at most `limit` of them.
    Result List(std::vector<ResourceInfo>* out, std::size_t limit = 100000) const;

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    struct Section {
        std::uint32_t virtual_address;
        std::uint32_t virtual_size;
        std::uint32_t raw_offset;
        std::uint32_t raw_size; // already cut to the end of the file
    };

    // File offset of `length` bytes at virtual address `rva`, inside one section's file data.
    bool RvaToOffset(std::uint32_t rva, std::uint32_t length, std::uint32_t* offset) const;
    Result ReadDirectory(std::uint32_t dir_offset, std::uint32_t* first_entry,
                         std::uint32_t* count) const;
    Result ReadKey(std::uint32_t name_field, ResourceKey* key) const;
    Result FindEntry(std::uint32_t dir_offset, const ResourceKey& key, std::uint32_t* target) const;
    Result ChildDirectory(std::uint32_t target, std::uint32_t* dir_offset) const;

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    bool pe32_plus_ = false;
    std::uint16_t machine_ = 0;
    std::vector<Section> sections_;
    // The resource section's bytes as offsets into the file: the directory starts at rsrc_start_
    // and every offset inside the tree is relative to it and must stay below rsrc_size_.
    std::uint32_t rsrc_start_ = 0;
    std::uint32_t rsrc_size_ = 0;
    Result rsrc_state_ = Result::kNoResources; // kOk once the directory has been located
};

class MappedFile;

// The bytes of a file with the parsed view over them. Load maps the file read-only instead of
// reading it: a lookup touches only the headers, the resource directory and the resource it
// returns, so neither memory nor time grows with data appended to the module. See
// mapped_file.h for what a file truncated while mapped does.
class PeFile {
public:
    PeFile();
    ~PeFile();
    PeFile(const PeFile&) = delete;
    PeFile& operator=(const PeFile&) = delete;

    Result Load(const std::string& path);
    Result LoadBytes(std::vector<std::uint8_t> bytes);

    const PeImage& image() const { return image_; }

private:
    std::unique_ptr<MappedFile> mapping_;
    std::vector<std::uint8_t> bytes_;
    PeImage image_;
};

// Case-insensitive comparison of two UTF-16 names as the Windows resource functions make it:
// each code unit is mapped to upper case on its own.
bool NamesEqualIgnoringCase(const std::u16string& a, const std::u16string& b);
char16_t UpcaseUnit(char16_t c); // platform-specific: upcase_posix.cpp / upcase_win32.cpp

// UTF-8 <-> UTF-16. Invalid UTF-8 sequences and unpaired surrogates become U+FFFD.
std::u16string Utf8ToUtf16(const char* s, std::size_t n);
std::string Utf16ToUtf8(const char16_t* s, std::size_t n);

} // namespace pe
} // namespace dbpf
