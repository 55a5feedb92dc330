// Out-of-line helpers of the array templates.
#include <platform/afx_coll.h>

#include <cstdint>
#include <cstdlib>

namespace afx_detail {

std::size_t ArrayBytes(INT_PTR nCount, std::size_t nElementSize) {
    if (nCount < 0)
        AfxThrowInvalidArgException();
    std::size_t n = static_cast<std::size_t>(nCount);
    if (nElementSize != 0 && n > SIZE_MAX / nElementSize)
        AfxThrowMemoryException();
    return n * nElementSize;
}

void* AllocOrThrow(std::size_t nBytes) {
    void* p = std::malloc(nBytes ? nBytes : 1);
    if (!p)
        AfxThrowMemoryException();
    return p;
}

} // namespace afx_detail
