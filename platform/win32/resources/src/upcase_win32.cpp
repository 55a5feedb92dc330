// Upper case of one UTF-16 unit, from the system's own case table.
#include <platform/pe_image.h>

#include <windows.h>

namespace dbpf {
namespace pe {

char16_t UpcaseUnit(char16_t c) {
    WCHAR w = static_cast<WCHAR>(c);
    CharUpperBuffW(&w, 1);
    return static_cast<char16_t>(w);
}

} // namespace pe
} // namespace dbpf
