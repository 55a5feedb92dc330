// Private access to the streams of this library.
#pragma once

#include <platform/win_gdiplus.h>

#include <cstddef>

namespace imaging {

// For a stream made by CreateStreamOnHGlobal: the bytes of its block, without copying.
// False for any other stream.
bool StreamBytes(IStream* stream, const unsigned char*& data, std::size_t& size);

} // namespace imaging
