// Version tree lookups and the version block. Nodes are read through ByteReader; a node never
// reaches past its parent (a child that claims more is cut at the parent's end, as Windows reads
// it), its key must end inside it, and a value that claims more bytes than the node holds is cut
// to the node. Each step of a child walk advances by at least 8 bytes and each
// descent enters a strictly smaller node, so every walk ends.
#include <platform/version_block.h>

#include <platform/byte_reader.h>

#include <cstring>

namespace dbpf {
namespace pe {

namespace {

constexpr char kSignature[4] = {'F', 'E', '2', 'X'};

// How a node that claims to reach past `limit` is read: the root of a resource must fit in
// it; a child is cut at its parent's end, as Windows keeps the values of such a child.
enum class Overrun { kRefuse, kCut };

// Parses the node at `offset`, which ends by `limit` (see Overrun).
bool ReadNode(const ByteReader& r, std::size_t offset, std::size_t limit, Overrun overrun,
              VersionNode* node, std::u16string* key) {
    std::uint16_t length = 0;
    std::uint16_t value_length = 0;
    std::uint16_t type = 0;
    if (!r.ReadU16LE(offset, &length) || !r.ReadU16LE(offset + 2, &value_length) ||
        !r.ReadU16LE(offset + 4, &type)) {
        return false;
    }
    if (length < 6 || offset > limit || (length > limit - offset && overrun == Overrun::kRefuse)) {
        return false;
    }
    const std::size_t end = length > limit - offset ? limit : offset + length;
    std::size_t p = 0;
    if (!r.ReadUtf16Z(offset + 6, end, key, &p)) {
        return false; // the key runs past the node
    }
    std::size_t value = 0;
    if (!AlignUp(p, 4, end, &value)) {
        value = end;
    }
    node->offset = offset;
    node->end = end;
    node->value_offset = value;
    node->value_length = value_length;
    node->is_text = type == 1;
    const std::size_t declared = node->is_text ? std::size_t(value_length) * 2 : value_length;
    node->value_bytes = declared < end - value ? declared : end - value;
    node->text_units = 0;
    if (node->is_text) {
        const std::size_t units = node->value_bytes / 2;
        std::uint16_t unit = 0;
        while (node->text_units < units && r.ReadU16LE(value + node->text_units * 2, &unit) &&
               unit != 0) {
            ++node->text_units;
        }
    }
    return true;
}

// Offset of a node's first child: the value rounded up to 4, as declared, cut to the node.
std::size_t FirstChild(const VersionNode& n) {
    const std::size_t declared = n.is_text ? std::size_t(n.value_length) * 2 : n.value_length;
    std::size_t at = 0;
    if (declared > n.end - n.value_offset || !AlignUp(n.value_offset + declared, 4, n.end, &at)) {
        return n.end;
    }
    return at;
}

// Where the UTF-8 form of a text node goes in the spare space: each tree byte owns one and a
// half spare bytes, so nodes that do not nest get disjoint slots.
std::size_t SpareOffset(std::size_t tree_offset) {
    return tree_offset + tree_offset / 2;
}
std::size_t SpareSize(std::size_t tree_length) {
    return SpareOffset(tree_length) + 2;
}

} // namespace

std::size_t VersionTreeLength(const std::uint8_t* resource, std::size_t size) {
    ByteReader r(resource, size);
    VersionNode root;
    std::u16string key;
    if (!ReadNode(r, 0, size, Overrun::kRefuse, &root, &key)) {
        return 0;
    }
    return root.end;
}

bool QueryVersionTree(const std::uint8_t* tree, std::size_t size, const std::u16string& path,
                      VersionNode* out) {
    ByteReader r(tree, size);
    VersionNode node;
    std::u16string key;
    if (!ReadNode(r, 0, size, Overrun::kRefuse, &node, &key)) {
        return false;
    }
    std::size_t i = 0;
    while (i < path.size()) {
        if (path[i] == u'\\') {
            ++i;
            continue;
        }
        std::size_t j = path.find(u'\\', i);
        if (j == std::u16string::npos) {
            j = path.size();
        }
        const std::u16string want = path.substr(i, j - i);
        i = j;
        bool found = false;
        std::size_t at = FirstChild(node);
        while (at < node.end) {
            VersionNode child;
            if (!ReadNode(r, at, node.end, Overrun::kCut, &child, &key)) {
                break;
            }
            if (NamesEqualIgnoringCase(key, want)) {
                node = child;
                found = true;
                break;
            }
            if (!AlignUp(child.end, 4, node.end, &at)) {
                break;
            }
        }
        if (!found) {
            return false;
        }
    }
    *out = node;
    return true;
}

std::size_t VersionBlockSize(const std::uint8_t* resource, std::size_t size) {
    const std::size_t tree = VersionTreeLength(resource, size);
    if (tree == 0) {
        return 0;
    }
    return tree + sizeof kSignature + SpareSize(tree);
}

bool FillVersionBlock(const std::uint8_t* resource, std::size_t size, void* block,
                      std::size_t block_size) {
    const std::size_t tree = VersionTreeLength(resource, size);
    if (tree == 0 || block_size < tree + sizeof kSignature + SpareSize(tree)) {
        return false;
    }
    std::uint8_t* b = static_cast<std::uint8_t*>(block);
    std::memcpy(b, resource, tree);
    std::memcpy(b + tree, kSignature, sizeof kSignature);
    std::memset(b + tree + sizeof kSignature, 0, SpareSize(tree));
    return true;
}

bool QueryVersionBlockA(void* block, const char* sub_block, void** value, unsigned* length) {
    if (block == nullptr || sub_block == nullptr) {
        return false;
    }
    std::uint8_t* b = static_cast<std::uint8_t*>(block);
    // The caller's block is the one FillVersionBlock made, of the size VersionBlockSize gave;
    // its tree length and signature say where the spare space lies.
    const std::size_t tree = static_cast<std::size_t>(b[0] | (b[1] << 8));
    if (tree < 6 || std::memcmp(b + tree, kSignature, sizeof kSignature) != 0) {
        return false;
    }
    VersionNode node;
    if (!QueryVersionTree(b, tree, Utf8ToUtf16(sub_block, std::strlen(sub_block)), &node)) {
        return false;
    }
    if (!node.is_text) {
        *value = b + node.value_offset;
        if (length != nullptr) {
            *length = static_cast<unsigned>(node.value_bytes);
        }
        return true;
    }
    std::u16string text(node.text_units, u'\0');
    for (std::size_t k = 0; k < node.text_units; ++k) {
        const std::size_t at = node.value_offset + 2 * k;
        text[k] = static_cast<char16_t>(b[at] | (b[at + 1] << 8));
    }
    std::string utf8 = Utf16ToUtf8(text.data(), text.size());
    char* slot = reinterpret_cast<char*>(b + tree + sizeof kSignature + SpareOffset(node.offset));
    const std::size_t room = SpareOffset(node.end) - SpareOffset(node.offset);
    // Each UTF-16 unit takes at most three UTF-8 bytes, and a node holds a 6-byte header and a
    // key besides its text, so the slot always has room; cut at a character boundary anyway.
    std::size_t n = utf8.size();
    if (n > room - 1) {
        n = room - 1;
        while (n > 0 && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80) {
            --n;
        }
    }
    std::memcpy(slot, utf8.data(), n);
    slot[n] = '\0';
    *value = slot;
    if (length != nullptr) {
        *length = node.value_length == 0 ? 0u : static_cast<unsigned>(n + 1);
    }
    return true;
}

} // namespace pe
} // namespace dbpf
