// CGdiPlusBitmapResource::Load(pBuff, size) on arbitrary bytes: the signature check and every
// image reader behind it (PNG, JPEG, GIF, TIFF, BMP, ICO). A successful load is exercised
// further: every pixel read and a locked read of the whole image.
// Seeds: fuzz/corpus/image (one small image of each format). The fuzz configuration of the
// build limits images to 1<<22 pixels, so that valid but huge images do not slow the search.
#include <pellisk.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CGdiPlusBitmapResource image;
    if (!image.Load(const_cast<BYTE*>(data), static_cast<DWORD>(size))) {
        if (image.m_pBitmap != nullptr || image.m_hBuffer != nullptr)
            __builtin_trap();
        return 0;
    }
    Gdiplus::Bitmap& bmp = *image.m_pBitmap;
    const UINT w = bmp.GetWidth(), h = bmp.GetHeight();
    if (w == 0 || h == 0)
        __builtin_trap();
    std::uint32_t sum = 0;
    Gdiplus::Color c;
    for (UINT y = 0; y < h; y += 1 + h / 64)
        for (UINT x = 0; x < w; x += 1 + w / 64)
            if (bmp.GetPixel(int(x), int(y), &c) == Gdiplus::Ok)
                sum += c.GetValue();
    Gdiplus::BitmapData locked;
    if (bmp.LockBits(nullptr, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &locked) ==
        Gdiplus::Ok) {
        const std::uint8_t* last = static_cast<const std::uint8_t*>(locked.Scan0) +
                                   std::size_t(h - 1) * std::size_t(locked.Stride) + 4 * (w - 1);
        sum += last[3];
        bmp.UnlockBits(&locked);
    }
    return sum == 0x12345678 ? 1 : 0; // keeps the reads from being optimised away
}
