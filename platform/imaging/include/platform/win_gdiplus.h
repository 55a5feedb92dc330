// Movable memory blocks, streams over them and GDI+ bitmaps.
//
// On Windows this header includes the real <windows.h>, <objidl.h> and <gdiplus.h>. Elsewhere it
// declares portable stand-ins with the same names and the same behaviour for what the class
// libraries use, so that their sources are the same on both:
//
//   GlobalAlloc / GlobalLock / GlobalUnlock / GlobalFree / GlobalSize / GlobalFlags
//       Blocks are reached only through their handle; GlobalLock gives the pointer and counts
//       locks (GlobalFlags(h) & GMEM_LOCKCOUNT). A block of 0 bytes exists but cannot be
//       locked (GlobalLock returns null), as on Windows. Blocks never move.
//   CreateStreamOnHGlobal
//       A read-only, reference-counted IStream over a block. With fDeleteOnRelease FALSE the
//       stream does not own the block: the caller keeps the block alive (and unchanged) for as
//       long as the stream exists. Write and SetSize fail with STG_E_ACCESSDENIED.
//   Gdiplus::Bitmap
//       FromStream decodes PNG, JPEG, GIF (first frame), TIFF (first page), BMP (run-length
//       compressed ones too) and ICO (the largest entry) into 32-bit ARGB pixels. A JPEG that
//       libjpeg-turbo can only patch up (premature end, corrupt entropy data) fails; one with
//       warnings about bytes that hold no pixels (stray bytes before a marker) loads. The
//       status of the creation is read, and reset to Ok, with GetLastStatus. Input that no
//       decoder takes gives UnknownImageFormat, truncated or corrupt input InvalidParameter, an
//       image larger than 1<<28 pixels OutOfMemory. The bitmap holds a reference to its stream
//       until it is deleted (as GDI+ does, which reads the stream lazily), so the block behind
//       the stream must outlive the bitmap.
//       GetPixelFormat reports the format GDI+ would report for the source (32bppARGB for
//       sources with alpha, 24bppRGB for opaque colour, 32bppRGB for run-length compressed
//       bitmaps, the indexed formats for palette sources); LockBits offers 32bppARGB (and
//       32bppRGB, 32bppPARGB) whatever the source.
//   Gdiplus::GdiplusStartup / GdiplusShutdown
//       Process-wide start and stop, counted by token. Bitmaps created while no start is in
//       effect have the status GdiplusNotInitialized.
//
// Threads: a block, a stream or a bitmap is used by one thread at a time; start and stop may
// be called from any thread.
#pragma once

#ifdef _WIN32

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#else

#include <platform/win_types.h>

#include <cstddef>

typedef wchar_t* LPOLESTR;

#ifndef S_FALSE
#define S_FALSE ((HRESULT)1)
#endif
#ifndef E_NOTIMPL
#define E_NOTIMPL ((HRESULT)0x80004001L)
#endif
#ifndef E_POINTER
#define E_POINTER ((HRESULT)0x80004003L)
#endif
#ifndef STG_E_INVALIDFUNCTION
#define STG_E_INVALIDFUNCTION ((HRESULT)0x80030001L)
#endif
#ifndef STG_E_ACCESSDENIED
#define STG_E_ACCESSDENIED ((HRESULT)0x80030005L)
#endif
#ifndef STG_E_INVALIDPOINTER
#define STG_E_INVALIDPOINTER ((HRESULT)0x80030009L)
#endif
#ifndef SUCCEEDED
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#endif
#ifndef FAILED
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#endif

// ---- Movable memory blocks -------------------------------------------------------------------

#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
#define GMEM_LOCKCOUNT 0x00FF
#define GMEM_INVALID_HANDLE 0x8000

// A new block of `dwBytes` bytes (zeroed with GMEM_ZEROINIT), or null when memory is short.
// GMEM_FIXED blocks behave like movable ones: the handle is not the pointer.
HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
// Pointer to the block's bytes and one more lock; null for a null handle or a 0-byte block.
LPVOID GlobalLock(HGLOBAL hMem);
// One lock less. TRUE while the block stays locked, FALSE when it is now (or was) unlocked.
BOOL GlobalUnlock(HGLOBAL hMem);
// Frees the block (locked or not). Null on success; a null handle is accepted.
HGLOBAL GlobalFree(HGLOBAL hMem);
// Size in bytes; 0 for a null handle.
SIZE_T GlobalSize(HGLOBAL hMem);
// The lock count in the low byte; GMEM_INVALID_HANDLE for a null handle.
UINT GlobalFlags(HGLOBAL hMem);

// ---- Streams ----------------------------------------------------------------------------------

struct LARGE_INTEGER {
    LONGLONG QuadPart;
};
struct ULARGE_INTEGER {
    ULONGLONG QuadPart;
};

enum STREAM_SEEK { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };
enum STATFLAG { STATFLAG_DEFAULT = 0, STATFLAG_NONAME = 1 };
enum STGTY { STGTY_STORAGE = 1, STGTY_STREAM = 2, STGTY_LOCKBYTES = 3, STGTY_PROPERTY = 4 };

struct STATSTG {
    LPOLESTR pwcsName; // always null: streams over blocks have no name
    DWORD type;        // STGTY_STREAM
    ULARGE_INTEGER cbSize;
    FILETIME mtime;
    FILETIME ctime;
    FILETIME atime;
    DWORD grfMode;
    DWORD grfLocksSupported;
    DWORD grfStateBits;
    DWORD reserved;
};

// Reference counting of COM objects (QueryInterface is not offered).
struct IUnknown {
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IStream : IUnknown {
    // Copies up to `cb` bytes from the current position; S_OK also for a short read, with the
    // count in *pcbRead (which may be null).
    virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
    // Moves the position; a position before the start fails with STG_E_INVALIDFUNCTION, one
    // past the end is allowed (reads there give 0 bytes).
    virtual HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin,
                         ULARGE_INTEGER* plibNewPosition) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER libNewSize) = 0;
    virtual HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;

protected:
    ~IStream() = default;
};
typedef IStream* LPSTREAM;

// A stream over `hGlobal` (a new empty block when null) with one reference in *ppstm. With
// fDeleteOnRelease the last Release frees the block. E_INVALIDARG for a null ppstm.
HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, LPSTREAM* ppstm);

// ---- GDI+ -------------------------------------------------------------------------------------

#define PixelFormatIndexed 0x00010000
#define PixelFormatGDI 0x00020000
#define PixelFormatAlpha 0x00040000
#define PixelFormatPAlpha 0x00080000
#define PixelFormatExtended 0x00100000
#define PixelFormatCanonical 0x00200000
#define PixelFormatUndefined 0
#define PixelFormatDontCare 0
#define PixelFormat1bppIndexed (1 | (1 << 8) | PixelFormatIndexed | PixelFormatGDI)
#define PixelFormat4bppIndexed (2 | (4 << 8) | PixelFormatIndexed | PixelFormatGDI)
#define PixelFormat8bppIndexed (3 | (8 << 8) | PixelFormatIndexed | PixelFormatGDI)
#define PixelFormat24bppRGB (8 | (24 << 8) | PixelFormatGDI)
#define PixelFormat32bppRGB (9 | (32 << 8) | PixelFormatGDI)
#define PixelFormat32bppARGB                                                                       \
    (10 | (32 << 8) | PixelFormatAlpha | PixelFormatGDI | PixelFormatCanonical)
#define PixelFormat32bppPARGB                                                                      \
    (11 | (32 << 8) | PixelFormatAlpha | PixelFormatPAlpha | PixelFormatGDI)

namespace Gdiplus {

typedef int INT;
typedef DWORD ARGB;
typedef INT PixelFormat;
typedef void VOID;

enum Status {
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    ObjectBusy = 4,
    InsufficientBuffer = 5,
    NotImplemented = 6,
    Win32Error = 7,
    WrongState = 8,
    Aborted = 9,
    FileNotFound = 10,
    ValueOverflow = 11,
    AccessDenied = 12,
    UnknownImageFormat = 13,
    FontFamilyNotFound = 14,
    FontStyleNotFound = 15,
    NotTrueTypeFont = 16,
    UnsupportedGdiplusVersion = 17,
    GdiplusNotInitialized = 18,
    PropertyNotFound = 19,
    PropertyNotSupported = 20,
    ProfileNotFound = 21
};

enum ImageLockMode { ImageLockModeRead = 1, ImageLockModeWrite = 2, ImageLockModeUserInputBuf = 4 };

class Color {
public:
    enum { AlphaShift = 24, RedShift = 16, GreenShift = 8, BlueShift = 0 };

    Color() : Argb(0xFF000000u) {}
    Color(BYTE r, BYTE g, BYTE b) : Argb(MakeARGB(255, r, g, b)) {}
    Color(BYTE a, BYTE r, BYTE g, BYTE b) : Argb(MakeARGB(a, r, g, b)) {}
    explicit Color(ARGB argb) : Argb(argb) {}

    BYTE GetA() const { return static_cast<BYTE>(Argb >> AlphaShift); }
    BYTE GetR() const { return static_cast<BYTE>(Argb >> RedShift); }
    BYTE GetG() const { return static_cast<BYTE>(Argb >> GreenShift); }
    BYTE GetB() const { return static_cast<BYTE>(Argb >> BlueShift); }
    BYTE GetAlpha() const { return GetA(); }
    BYTE GetRed() const { return GetR(); }
    BYTE GetGreen() const { return GetG(); }
    BYTE GetBlue() const { return GetB(); }
    ARGB GetValue() const { return Argb; }
    void SetValue(ARGB argb) { Argb = argb; }

    static ARGB MakeARGB(BYTE a, BYTE r, BYTE g, BYTE b) {
        return (ARGB(a) << AlphaShift) | (ARGB(r) << RedShift) | (ARGB(g) << GreenShift) |
               (ARGB(b) << BlueShift);
    }

protected:
    ARGB Argb;
};

class Rect {
public:
    Rect() : X(0), Y(0), Width(0), Height(0) {}
    Rect(INT x, INT y, INT width, INT height) : X(x), Y(y), Width(width), Height(height) {}
    INT X, Y, Width, Height;
};

class BitmapData {
public:
    UINT Width;
    UINT Height;
    INT Stride;
    Gdiplus::PixelFormat PixelFormat;
    VOID* Scan0;
    UINT_PTR Reserved;
};

typedef void (*DebugEventProc)(int level, CHAR* message);

struct GdiplusStartupInput {
    UINT GdiplusVersion;
    DebugEventProc DebugEventCallback;
    BOOL SuppressBackgroundThread;
    BOOL SuppressExternalCodecs;

    GdiplusStartupInput(DebugEventProc debugEventCallback = nullptr,
                        BOOL suppressBackgroundThread = FALSE, BOOL suppressExternalCodecs = FALSE)
        : GdiplusVersion(1), DebugEventCallback(debugEventCallback),
          SuppressBackgroundThread(suppressBackgroundThread),
          SuppressExternalCodecs(suppressExternalCodecs) {}
};

struct GdiplusStartupOutput {
    void* NotificationHook = nullptr;
    void* NotificationUnhook = nullptr;
};

// Starts the imaging system and gives a token for GdiplusShutdown. Ok, or
// UnsupportedGdiplusVersion for a version other than 1 or 2, InvalidParameter for a null token
// or input, or a suppressed background thread without an output record.
Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                      GdiplusStartupOutput* output);
// Ends the start that gave `token`; unknown tokens are ignored.
void GdiplusShutdown(ULONG_PTR token);

struct DecodedPixels; // private to the imaging library

class Image {
public:
    virtual ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    // The status of the last failed call (or of the creation) and resets it to Ok.
    Status GetLastStatus() const;
    // 0 for an image that failed to load.
    UINT GetWidth();
    UINT GetHeight();
    PixelFormat GetPixelFormat();

protected:
    Image();
    Status SetStatus(Status status) const;

    DecodedPixels* pixels_ = nullptr; // null unless the image decoded
    IStream* stream_ = nullptr;       // one reference, held until deletion
    mutable Status lastResult_ = Ok;
};

class Bitmap : public Image {
public:
    // Decodes the image in `stream`; the result's GetLastStatus tells whether it worked.
    // `useEmbeddedColorManagement` is accepted and ignored. Null only when memory is short.
    static Bitmap* FromStream(IStream* stream, BOOL useEmbeddedColorManagement = FALSE);
    explicit Bitmap(IStream* stream, BOOL useEmbeddedColorManagement = FALSE);
    ~Bitmap() override;

    // InvalidParameter outside the image or for a null `color`.
    Status GetPixel(INT x, INT y, Color* color) const;
    // Gives access to the pixels of `rect` (the whole image when null) as 32bppARGB,
    // 32bppRGB or 32bppPARGB; with ImageLockModeUserInputBuf the caller's Scan0 and Stride are
    // used (read: filled; write: copied back at UnlockBits). One lock at a time (WrongState).
    Status LockBits(const Rect* rect, UINT flags, PixelFormat format, BitmapData* lockedBitmapData);
    Status UnlockBits(BitmapData* lockedBitmapData);

private:
    struct LockState;
    LockState* lock_ = nullptr;
};

} // namespace Gdiplus

#endif // _WIN32
