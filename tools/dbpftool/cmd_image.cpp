// dbpftool image: loads an image through CGdiPlusBitmapResource and describes it.
//
//   dbpftool image FILE [--png OUT]
//   dbpftool image MODULE --resource NAME|#ID TYPE|#ID [--png OUT]
//
// Resource names and types are passed as the resource functions take them: a name, or "#n"
// for the integer id n (RT_RCDATA is #10). --png writes the decoded pixels as an RGBA PNG
// (POSIX builds only: it uses libpng, which the Windows builds do not have).
#include "commands.h"
#include "file_io.h"

#include <pellisk.h>
#include <platform/win_resources.h>

#include <cstdio>
#include <string>
#include <vector>

#ifndef _WIN32
#include <png.h>
#endif

namespace dbpftool {

namespace {

// Usage errors that the command line cannot see: one line, exit status 2.
int Usage(const char* why) {
    std::fprintf(stderr, "dbpftool image: %s\n", why);
    return 2;
}

std::string FormatName(Gdiplus::PixelFormat f) {
    struct Name {
        Gdiplus::PixelFormat format;
        const char* name;
    };
    static const Name kNames[] = {
        {PixelFormat1bppIndexed, "1bppIndexed"}, {PixelFormat4bppIndexed, "4bppIndexed"},
        {PixelFormat8bppIndexed, "8bppIndexed"}, {PixelFormat24bppRGB, "24bppRGB"},
        {PixelFormat32bppRGB, "32bppRGB"},       {PixelFormat32bppARGB, "32bppARGB"},
        {PixelFormat32bppPARGB, "32bppPARGB"},
    };
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(f));
    for (const Name& n : kNames)
        if (n.format == f)
            return std::string(n.name) + " (" + hex + ")";
    return hex;
}

#ifndef _WIN32
// The bitmap's pixels as a PNG in `out`.
bool EncodePng(Gdiplus::Bitmap& bmp, std::vector<unsigned char>& out, std::string& error) {
    Gdiplus::BitmapData data;
    if (bmp.LockBits(nullptr, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) !=
        Gdiplus::Ok) {
        error = "cannot read the pixels";
        return false;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = data.Width;
    image.height = data.Height;
    image.format = PNG_FORMAT_BGRA; // 32-bit ARGB in memory order on little-endian machines
    png_alloc_size_t size = 0;
    bool ok = png_image_write_get_memory_size(image, size, 0, data.Scan0, data.Stride, nullptr);
    if (ok) {
        out.resize(size);
        ok = png_image_write_to_memory(&image, out.data(), &size, 0, data.Scan0, data.Stride,
                                       nullptr) != 0;
        out.resize(size);
    }
    if (!ok)
        error = image.message[0] ? image.message : "cannot encode the PNG";
    png_image_free(&image);
    bmp.UnlockBits(&data);
    return ok;
}
#endif

} // namespace

int RunImage(const Args& args, const ImageOptions& options) {
    const std::string& input = args.at(0);
    const std::string pngOut = options.png.value_or("");
    const bool fromResource = options.resource.size() == 2;
    const std::string resName = fromResource ? options.resource[0] : "";
    const std::string resType = fromResource ? options.resource[1] : "";
    if (options.png && pngOut.empty())
        return Usage("--png needs a file name");
#ifdef _WIN32
    if (!pngOut.empty())
        return Usage("--png is not available in Windows builds");
#endif

    HMODULE module = nullptr;
    CGdiPlusBitmapResource image;
    BOOL loaded = FALSE;
    if (fromResource) {
        module = LoadLibraryExA(input.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (module == nullptr)
            return Fail(input, "cannot open as a module");
        loaded = image.Load(resName.c_str(), resType.c_str(), module);
    } else {
        std::vector<std::uint8_t> bytes;
        std::string error;
        if (!ReadWholeFile(input, bytes, error, 0xFFFFFFFFu))
            return Fail(input, error);
        loaded = image.Load(bytes.data(), static_cast<DWORD>(bytes.size()));
    }
    int status = 0;
    const std::string what = fromResource ? input + " " + resName + " " + resType : input;
    if (!loaded) {
        status = Fail(what, fromResource ? "no such resource, or not a decodable image"
                                         : "not a decodable image");
    } else {
        Gdiplus::Bitmap& bmp = *image.m_pBitmap;
        std::printf("width: %u\nheight: %u\npixel format: %s\n", bmp.GetWidth(), bmp.GetHeight(),
                    FormatName(bmp.GetPixelFormat()).c_str());
#ifndef _WIN32
        if (!pngOut.empty()) {
            std::vector<unsigned char> png;
            std::string error;
            if (!EncodePng(bmp, png, error) ||
                !WriteFileAtomically(pngOut, png.data(), png.size(), error))
                status = Fail(pngOut, error);
        }
#endif
    }
    image.Empty();
    if (module != nullptr)
        FreeLibrary(module);
    return status;
}

} // namespace dbpftool
