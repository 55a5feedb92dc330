// Upper case of one UTF-16 unit, from ICU's simple case mapping. Surrogates stay as they are:
// the Windows comparison of resource names and version keys maps each unit on its own.
#include <platform/pe_image.h>

#include <unicode/uchar.h>

namespace dbpf {
namespace pe {

char16_t UpcaseUnit(char16_t c) {
    if (c < 0x80) {
        return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
        return c;
    }
    const UChar32 up = u_toupper(static_cast<UChar32>(c));
    return up <= 0xFFFF ? static_cast<char16_t>(up) : c;
}

} // namespace pe
} // namespace dbpf
