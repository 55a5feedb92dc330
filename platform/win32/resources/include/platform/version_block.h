// Version resources (the VS_VERSIONINFO tree in its 32-bit, UTF-16 form) and the version block
// that the POSIX stand-ins of GetFileVersionInfoA and VerQueryValueA exchange with callers.
//
// The tree is a nest of nodes, each 4-byte aligned from the start of the resource:
//   wLength (bytes of the node with its children), wValueLength (bytes of a binary value, UTF-16
//   units of a text value), wType (0 binary, 1 text), the key as zero-terminated UTF-16,
//   padding to 4, the value, padding to 4, the children.
// A path such as "\StringFileInfo\040904E4\CompanyName" names one child per component, keys
// compared ignoring case; empty components are skipped, so "\" is the root, whose value is the
// fixed record.
//
// The block mirrors the one Windows hands out: the tree as the resource holds it, the four
// bytes "FE2X", then spare space in which VerQueryValueA leaves the 8-bit (here UTF-8) form of
// each text value it is asked for, at a place fixed by the node's position, so that a returned
// pointer stays valid and unchanged as long as the block. Windows reserves as many spare bytes
// as the tree holds, enough for code pages of at most two bytes per character; UTF-8 needs up
// to three bytes per UTF-16 unit, so this block reserves one and a half times the tree.
#pragma once

#include <platform/pe_image.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace dbpf {
namespace pe {

struct VersionNode {
    std::size_t offset = 0;         // of the node's first byte
    std::size_t end = 0;            // one past its last byte (offset + wLength)
    std::size_t value_offset = 0;   // of the value
    std::size_t value_bytes = 0;    // of the value, cut to the node
    std::uint16_t value_length = 0; // wValueLength as stored
    bool is_text = false;
    std::size_t text_units = 0; // text values: UTF-16 units before the terminator
};

// Length of the version tree at the start of a resource (its root's wLength), or 0 when the
// resource does not start with a sound root node that fits inside it.
std::size_t VersionTreeLength(const std::uint8_t* resource, std::size_t size);

// Looks `path` up in the tree [tree, tree + size). The key comparison ignores case.
bool QueryVersionTree(const std::uint8_t* tree, std::size_t size, const std::u16string& path,
                      VersionNode* out);

// Size of the block for a resource, 0 when the resource is not a version tree.
std::size_t VersionBlockSize(const std::uint8_t* resource, std::size_t size);

// Fills `block` (of `block_size` bytes, at least VersionBlockSize) from the resource.
bool FillVersionBlock(const std::uint8_t* resource, std::size_t size, void* block,
                      std::size_t block_size);

// VerQueryValueA over a block made by FillVersionBlock: `sub_block` is UTF-8. A binary value is
// returned in place with its length in bytes; a text value is converted to UTF-8 in the block's
// spare space and returned with its length in bytes including the terminator (0 for a value
// the resource stores as empty). Fails when the path is not found or the block lacks the
// signature behind its tree.
bool QueryVersionBlockA(void* block, const char* sub_block, void** value, unsigned* length);

} // namespace pe
} // namespace dbpf
