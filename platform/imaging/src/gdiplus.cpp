// The GDI+ stand-in: start and stop, and bitmaps decoded from streams.
#include <platform/win_gdiplus.h>

#include "decode.h"
#include "global_memory.h"

#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <vector>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "pixels are stored as B, G, R, A bytes, which is 32-bit ARGB only on little-endian machines"
#endif

namespace Gdiplus {

struct DecodedPixels {
    imaging::Pixels pixels;
};

namespace {

// Start and stop are called from library constructors and destructors, before and after the
// ordinary static objects of this library live: the mutex is constant-initialised and the set
// of tokens is made on first use and never destroyed.
std::mutex g_startMutex;
ULONG_PTR g_nextToken = 1;

std::set<ULONG_PTR>& Tokens() { // starts in effect
    static std::set<ULONG_PTR>* tokens = new std::set<ULONG_PTR>;
    return *tokens;
}

bool Started() {
    std::lock_guard<std::mutex> lock(g_startMutex);
    return !Tokens().empty();
}

Status StatusOf(imaging::DecodeResult r) {
    switch (r) {
    case imaging::DecodeResult::kOk:
        return Ok;
    case imaging::DecodeResult::kUnknownFormat:
        return UnknownImageFormat;
    case imaging::DecodeResult::kCorrupt:
        return InvalidParameter;
    case imaging::DecodeResult::kTooLarge:
        return OutOfMemory;
    case imaging::DecodeResult::kNoMemory:
        return OutOfMemory;
    }
    return GenericError;
}

// Reads a stream that is not one of ours from its start, in chunks, up to its end.
bool ReadWholeStream(IStream* stream, std::vector<unsigned char>& out) {
    LARGE_INTEGER zero{0};
    if (FAILED(stream->Seek(zero, STREAM_SEEK_SET, nullptr)))
        return false;
    unsigned char chunk[65536];
    for (;;) {
        ULONG got = 0;
        if (FAILED(stream->Read(chunk, sizeof chunk, &got)))
            return false;
        if (got == 0)
            return true;
        out.insert(out.end(), chunk, chunk + got);
    }
}

PixelFormat FormatOf(imaging::SourceFormat f) {
    switch (f) {
    case imaging::SourceFormat::kArgb:
        return PixelFormat32bppARGB;
    case imaging::SourceFormat::kRgb:
        return PixelFormat24bppRGB;
    case imaging::SourceFormat::kRgb32:
        return PixelFormat32bppRGB;
    case imaging::SourceFormat::kIndexed1:
        return PixelFormat1bppIndexed;
    case imaging::SourceFormat::kIndexed4:
        return PixelFormat4bppIndexed;
    case imaging::SourceFormat::kIndexed8:
        return PixelFormat8bppIndexed;
    }
    return PixelFormat32bppARGB;
}

} // namespace

Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                      GdiplusStartupOutput* output) {
    if (token == nullptr || input == nullptr)
        return InvalidParameter;
    if (input->GdiplusVersion != 1 && input->GdiplusVersion != 2)
        return UnsupportedGdiplusVersion;
    if (input->SuppressBackgroundThread && output == nullptr)
        return InvalidParameter;
    if (output != nullptr)
        *output = GdiplusStartupOutput();
    std::lock_guard<std::mutex> lock(g_startMutex);
    *token = g_nextToken++;
    Tokens().insert(*token);
    return Ok;
}

void GdiplusShutdown(ULONG_PTR token) {
    std::lock_guard<std::mutex> lock(g_startMutex);
    Tokens().erase(token);
}

// ---- Image -----------------------------------------------------------------------------------

Image::Image() = default;

Image::~Image() {
    delete pixels_;
    if (stream_ != nullptr)
        stream_->Release();
}

Status Image::SetStatus(Status status) const {
    if (status != Ok)
        lastResult_ = status;
    return status;
}

Status Image::GetLastStatus() const {
    const Status s = lastResult_;
    lastResult_ = Ok;
    return s;
}

UINT Image::GetWidth() {
    return pixels_ ? pixels_->pixels.width : 0;
}
UINT Image::GetHeight() {
    return pixels_ ? pixels_->pixels.height : 0;
}
PixelFormat Image::GetPixelFormat() {
    return pixels_ ? FormatOf(pixels_->pixels.format) : PixelFormatUndefined;
}

// ---- Bitmap ----------------------------------------------------------------------------------

struct Bitmap::LockState {
    Rect rect;
    UINT flags;
    PixelFormat format;
    bool direct;                    // Scan0 points into the bitmap itself
    std::vector<std::uint8_t> temp; // converted copy otherwise (unless the caller's buffer)
};

Bitmap* Bitmap::FromStream(IStream* stream, BOOL useEmbeddedColorManagement) {
    return new (std::nothrow) Bitmap(stream, useEmbeddedColorManagement);
}

Bitmap::Bitmap(IStream* stream, BOOL) {
    if (stream == nullptr) {
        SetStatus(InvalidParameter);
        return;
    }
    if (!Started()) {
        SetStatus(GdiplusNotInitialized);
        return;
    }
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    std::vector<unsigned char> copy;
    if (!imaging::StreamBytes(stream, data, size)) {
        if (!ReadWholeStream(stream, copy)) {
            SetStatus(InvalidParameter);
            return;
        }
        data = copy.data();
        size = copy.size();
    }
    DecodedPixels* decoded = new (std::nothrow) DecodedPixels;
    if (decoded == nullptr) {
        SetStatus(OutOfMemory);
        return;
    }
    const imaging::DecodeResult r = imaging::Decode(data, size, decoded->pixels);
    if (r != imaging::DecodeResult::kOk) {
        delete decoded;
        SetStatus(StatusOf(r));
        return;
    }
    pixels_ = decoded;
    // Kept as GDI+ keeps it: the stream (and the memory behind it) must live as long as the
    // bitmap.
    stream_ = stream;
    stream_->AddRef();
}

Bitmap::~Bitmap() {
    delete lock_;
}

Status Bitmap::GetPixel(INT x, INT y, Color* color) const {
    if (pixels_ == nullptr)
        return SetStatus(InvalidParameter);
    const imaging::Pixels& p = pixels_->pixels;
    if (color == nullptr || x < 0 || y < 0 || UINT(x) >= p.width || UINT(y) >= p.height)
        return SetStatus(InvalidParameter);
    const std::uint8_t* s = p.bgra.get() + std::size_t(y) * p.Stride() + std::size_t(x) * 4;
    color->SetValue(Color::MakeARGB(s[3], s[2], s[1], s[0]));
    return Ok;
}

Status Bitmap::LockBits(const Rect* rect, UINT flags, PixelFormat format, BitmapData* data) {
    if (pixels_ == nullptr || data == nullptr)
        return SetStatus(InvalidParameter);
    if (lock_ != nullptr)
        return SetStatus(WrongState);
    if (format != PixelFormat32bppARGB && format != PixelFormat32bppRGB &&
        format != PixelFormat32bppPARGB)
        return SetStatus(InvalidParameter);
    if ((flags & (ImageLockModeRead | ImageLockModeWrite)) == 0)
        return SetStatus(InvalidParameter);
    imaging::Pixels& p = pixels_->pixels;
    Rect r = rect ? *rect : Rect(0, 0, INT(p.width), INT(p.height));
    if (r.X < 0 || r.Y < 0 || r.Width <= 0 || r.Height <= 0 || UINT(r.X) > p.width ||
        UINT(r.Width) > p.width - UINT(r.X) || UINT(r.Y) > p.height ||
        UINT(r.Height) > p.height - UINT(r.Y))
        return SetStatus(InvalidParameter);
    const bool userBuffer = (flags & ImageLockModeUserInputBuf) != 0;
    if (userBuffer && (data->Scan0 == nullptr || data->Stride == 0 ||
                       std::size_t(data->Stride < 0 ? -std::int64_t(data->Stride) : data->Stride) <
                           std::size_t(r.Width) * 4))
        return SetStatus(InvalidParameter);

    LockState* state = new (std::nothrow) LockState{r, flags, format, false, {}};
    if (state == nullptr)
        return SetStatus(OutOfMemory);
    std::uint8_t* origin = p.bgra.get() + std::size_t(r.Y) * p.Stride() + std::size_t(r.X) * 4;
    state->direct = !userBuffer && format == PixelFormat32bppARGB;
    if (state->direct) {
        data->Scan0 = origin;
        data->Stride = INT(p.Stride());
    } else {
        if (!userBuffer) {
            try {
                state->temp.resize(std::size_t(r.Width) * 4 * std::size_t(r.Height));
            } catch (const std::bad_alloc&) {
                delete state;
                return SetStatus(OutOfMemory);
            }
            data->Scan0 = state->temp.data();
            data->Stride = r.Width * 4;
        }
        if (flags & ImageLockModeRead) {
            for (INT y = 0; y < r.Height; ++y) {
                const std::uint8_t* s = origin + std::size_t(y) * p.Stride();
                std::uint8_t* d =
                    static_cast<std::uint8_t*>(data->Scan0) + std::ptrdiff_t(y) * data->Stride;
                for (INT x = 0; x < r.Width; ++x, s += 4, d += 4) {
                    unsigned b = s[0], g = s[1], rr = s[2], a = s[3];
                    if (format == PixelFormat32bppPARGB) {
                        b = (b * a + 127) / 255;
                        g = (g * a + 127) / 255;
                        rr = (rr * a + 127) / 255;
                    } else if (format == PixelFormat32bppRGB) {
                        a = 255;
                    }
                    d[0] = std::uint8_t(b), d[1] = std::uint8_t(g), d[2] = std::uint8_t(rr);
                    d[3] = std::uint8_t(a);
                }
            }
        }
    }
    data->Width = UINT(r.Width);
    data->Height = UINT(r.Height);
    data->PixelFormat = format;
    data->Reserved = 0;
    lock_ = state;
    return Ok;
}

Status Bitmap::UnlockBits(BitmapData* data) {
    if (pixels_ == nullptr || data == nullptr)
        return SetStatus(InvalidParameter);
    if (lock_ == nullptr)
        return SetStatus(WrongState);
    LockState* state = lock_;
    lock_ = nullptr;
    imaging::Pixels& p = pixels_->pixels;
    const Rect& r = state->rect;
    if (!state->direct && (state->flags & ImageLockModeWrite)) {
        std::uint8_t* origin = p.bgra.get() + std::size_t(r.Y) * p.Stride() + std::size_t(r.X) * 4;
        for (INT y = 0; y < r.Height; ++y) {
            const std::uint8_t* s =
                static_cast<const std::uint8_t*>(data->Scan0) + std::ptrdiff_t(y) * data->Stride;
            std::uint8_t* d = origin + std::size_t(y) * p.Stride();
            for (INT x = 0; x < r.Width; ++x, s += 4, d += 4) {
                unsigned b = s[0], g = s[1], rr = s[2], a = s[3];
                if (state->format == PixelFormat32bppPARGB && a != 0 && a != 255) {
                    // Premultiplied channels above alpha are invalid; they saturate.
                    b = b >= a ? 255 : (b * 255 + a / 2) / a;
                    g = g >= a ? 255 : (g * 255 + a / 2) / a;
                    rr = rr >= a ? 255 : (rr * 255 + a / 2) / a;
                } else if (state->format == PixelFormat32bppRGB) {
                    a = 255;
                }
                d[0] = std::uint8_t(b), d[1] = std::uint8_t(g), d[2] = std::uint8_t(rr);
                d[3] = std::uint8_t(a);
            }
        }
    }
    delete state;
    return Ok;
}

} // namespace Gdiplus
