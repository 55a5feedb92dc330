// Pellisk: GDI+ bitmaps loaded from module resources or from a caller's buffer.
//
// CGdiPlusBitmapResource copies encoded image bytes (any format the GDI+ decoders read: PNG,
// JPEG, GIF, TIFF, BMP, ICO) into a private movable memory block, creates a Gdiplus::Bitmap
// from a stream over that block, and owns both: the bitmap keeps reading from the block, so the
// block lives exactly as long as the bitmap.
//
// Reaching the bitmap: the public member m_pBitmap (declared in CGdiPlusBitmap) points to the
// loaded bitmap, or is null while the object is empty. The caller may use the bitmap (width,
// height, pixels, drawing) but must not delete it or keep it beyond the object's next Load,
// Empty or destruction. An object is either
//   - empty:  m_pBitmap and m_hBuffer are both null, or
//   - loaded: both are set; the block holds exactly the bytes loaded and is locked once.
// Every Load starts by emptying the object, so a failed Load also discards an earlier bitmap.
//
// Results are BOOL: 1 on success, 0 on failure. Every failure (no such resource, size 0,
// allocation failure, undecodable bytes, imaging system not started) leaves the object empty
// and holds no memory block; the decoder's status is not passed on.
//
// The library starts GDI+ when it is loaded into a process and shuts it down when it is
// unloaded; every object must therefore be destroyed (or emptied) before the library is
// unloaded.
//
// Threading: an object is used by one thread at a time. Objects cannot be copied or assigned.
//
// On POSIX systems the Windows types and functions come from the platform's stand-ins
// (<platform/win_gdiplus.h>): Gdiplus::Bitmap there offers GetWidth, GetHeight,
// GetPixelFormat, GetPixel, LockBits and UnlockBits; resources are read from Windows modules
// (.dll/.exe) opened with LoadLibraryExA(path, NULL, LOAD_LIBRARY_AS_DATAFILE).
#pragma once

#include <platform/afx_object.h>
#include <platform/win_gdiplus.h>
#include <platform/win_types.h>

#if defined(_WIN32)
#ifdef PELLISK_BUILD
#define PELLISK_API __declspec(dllexport)
#else
#define PELLISK_API __declspec(dllimport)
#endif
#else
#define PELLISK_API __attribute__((visibility("default")))
#endif

// Owner of one GDI+ bitmap. The destructor deletes m_pBitmap if it is set.
class PELLISK_API CGdiPlusBitmap : public CObject {
public:
    CGdiPlusBitmap();
    ~CGdiPlusBitmap() override;

    // The bitmap, or null when there is none. Owned by this object.
    Gdiplus::Bitmap* m_pBitmap;
};

class PELLISK_API CGdiPlusBitmapResource : public CGdiPlusBitmap {
public:
    // An empty object.
    CGdiPlusBitmapResource();
    // An empty object, then Load with the same arguments. The result of Load is not kept: the
    // object may be empty afterwards (m_pBitmap is null).
    CGdiPlusBitmapResource(const char* pName, const char* pType, HINSTANCE hInst);
    CGdiPlusBitmapResource(UINT id, const char* pType, HINSTANCE hInst);
    CGdiPlusBitmapResource(UINT id, UINT type, HINSTANCE hInst);
    // Empties the object (bitmap first, then the block), then the base destructor runs.
    ~CGdiPlusBitmapResource() override;

    // Deletes the bitmap, then unlocks and frees the block; the object is empty. Harmless on an
    // empty object.
    void Empty();

    // Loads the resource `pName` of type `pType` from module `hInst` (null: the process's
    // executable). Names are strings or integer ids below 65536 in pointer form
    // (MAKEINTRESOURCEA). 1 when the resource exists, is not empty and decodes.
    BOOL Load(const char* pName, const char* pType, HINSTANCE hInst);
    // The same with the resource id made from the low 16 bits of `id` (0x10001 loads id 1).
    BOOL Load(UINT id, const char* pType, HINSTANCE hInst);
    // The same with both the id and the type made from their low 16 bits.
    BOOL Load(UINT id, UINT type, HINSTANCE hInst);
    // Loads from `size` bytes at pBuff, which are copied: the caller's buffer is only read and
    // may be freed as soon as Load returns. 0 for size 0, and for a null pBuff with a non-zero
    // size (nothing is read).
    BOOL Load(BYTE* pBuff, DWORD size);

    // The private block holding the encoded bytes, locked once while loaded; null when empty.
    HGLOBAL m_hBuffer;
};
