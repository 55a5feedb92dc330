// GIF through giflib: the first image of the file, placed on the logical screen.
//
// The screen is the size the file announces (grown to hold the first image if that reaches
// beyond it); pixels the image does not cover, and pixels of the transparent colour index of
// a graphic control extension, are transparent. Indices beyond the colour map are black.
// Only the records up to the first image are read.
#include "decode.h"

#include <gif_lib.h>

#include <cstring>
#include <vector>

namespace imaging {

namespace {

struct GifSource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int n) {
    GifSource* src = static_cast<GifSource*>(gif->UserData);
    if (n <= 0)
        return 0;
    std::size_t take = static_cast<std::size_t>(n);
    if (take > src->size - src->pos)
        take = src->size - src->pos;
    std::memcpy(out, src->data + src->pos, take);
    src->pos += take;
    return static_cast<int>(take);
}

struct GifCloser {
    GifFileType* gif;
    ~GifCloser() {
        int error = 0;
        if (gif != nullptr)
            DGifCloseFile(gif, &error);
    }
};

DecodeResult ReadFirstImage(GifFileType* gif, Pixels& out) {
    int transparent = -1;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) != GIF_OK)
            return DecodeResult::kCorrupt;
        if (type == TERMINATE_RECORD_TYPE)
            return DecodeResult::kCorrupt; // no image at all
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif, &code, &ext) != GIF_OK)
                return DecodeResult::kCorrupt;
            // A graphic control extension: length 4, flags, delay (2 bytes), transparent index.
            if (code == GRAPHICS_EXT_FUNC_CODE && ext != nullptr && ext[0] >= 4)
                transparent = (ext[1] & 1) ? ext[4] : -1;
            while (ext != nullptr) {
                if (DGifGetExtensionNext(gif, &ext) != GIF_OK)
                    return DecodeResult::kCorrupt;
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE)
            return DecodeResult::kCorrupt;
        if (DGifGetImageDesc(gif) != GIF_OK)
            return DecodeResult::kCorrupt;
        break;
    }

    const GifImageDesc& desc = gif->Image;
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (map == nullptr || map->Colors == nullptr || desc.Width <= 0 || desc.Height <= 0 ||
        desc.Left < 0 || desc.Top < 0)
        return DecodeResult::kCorrupt;
    // giflib's fields are ints of at most 16 bits each, so these sums cannot overflow.
    const std::uint32_t right = std::uint32_t(desc.Left) + std::uint32_t(desc.Width);
    const std::uint32_t bottom = std::uint32_t(desc.Top) + std::uint32_t(desc.Height);
    const std::uint32_t width =
        gif->SWidth > 0 && std::uint32_t(gif->SWidth) >= right ? std::uint32_t(gif->SWidth) : right;
    const std::uint32_t height = gif->SHeight > 0 && std::uint32_t(gif->SHeight) >= bottom
                                     ? std::uint32_t(gif->SHeight)
                                     : bottom;
    const DecodeResult alloc = AllocatePixels(width, height, out);
    if (alloc != DecodeResult::kOk)
        return alloc;
    out.format = SourceFormat::kIndexed8;
    std::memset(out.bgra.get(), 0, std::size_t(height) * out.Stride());

    std::vector<GifPixelType> line(static_cast<std::size_t>(desc.Width));
    // Interlaced images store rows 0, 8, 16, ..., then 4, 12, ..., then 2, 6, ..., then 1, 3, ...
    static const int kStart[4] = {0, 4, 2, 1};
    static const int kStep[4] = {8, 8, 4, 2};
    const int passes = desc.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int start = desc.Interlace ? kStart[pass] : 0;
        const int step = desc.Interlace ? kStep[pass] : 1;
        for (int y = start; y < desc.Height; y += step) {
            if (DGifGetLine(gif, line.data(), desc.Width) != GIF_OK)
                return DecodeResult::kCorrupt;
            std::uint8_t* dst = out.bgra.get() + std::size_t(desc.Top + y) * out.Stride() +
                                std::size_t(desc.Left) * 4;
            for (int x = 0; x < desc.Width; ++x, dst += 4) {
                const int idx = line[static_cast<std::size_t>(x)];
                if (idx == transparent)
                    continue; // stays transparent black
                if (idx < map->ColorCount) {
                    const GifColorType& c = map->Colors[idx];
                    dst[0] = c.Blue;
                    dst[1] = c.Green;
                    dst[2] = c.Red;
                } else {
                    dst[0] = dst[1] = dst[2] = 0;
                }
                dst[3] = 255;
            }
        }
    }
    return DecodeResult::kOk;
}

} // namespace

DecodeResult DecodeGif(const std::uint8_t* data, std::size_t size, Pixels& out) {
    GifSource src{data, size, 0};
    int error = 0;
    GifCloser closer{DGifOpen(&src, ReadFromMemory, &error)};
    if (closer.gif == nullptr)
        return error == D_GIF_ERR_NOT_ENOUGH_MEM ? DecodeResult::kNoMemory : DecodeResult::kCorrupt;
    return ReadFirstImage(closer.gif, out);
}

} // namespace imaging
