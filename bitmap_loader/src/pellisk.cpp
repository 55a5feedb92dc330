// CGdiPlusBitmap and CGdiPlusBitmapResource.
//
// Load runs one sequence for resources and buffers: empty the object, obtain the bytes, copy
// them into a new movable block, lock it, create a stream over it (which does not own it),
// create the bitmap from the stream, drop our stream reference (the bitmap holds its own),
// and check the bitmap's status. Every failure leaves through the same path: the bitmap (if
// any) is deleted before the block is unlocked and freed, because the bitmap reads from it.
#include "pellisk.h"

#include <platform/win_gdiplus.h>
#include <platform/win_resources.h>

#include <cstring>

CGdiPlusBitmap::CGdiPlusBitmap() : m_pBitmap(nullptr) {}

CGdiPlusBitmap::~CGdiPlusBitmap() {
    if (m_pBitmap != nullptr) {
        delete m_pBitmap;
        m_pBitmap = nullptr;
    }
}

CGdiPlusBitmapResource::CGdiPlusBitmapResource() : m_hBuffer(nullptr) {}

CGdiPlusBitmapResource::CGdiPlusBitmapResource(const char* pName, const char* pType,
                                               HINSTANCE hInst)
    : m_hBuffer(nullptr) {
    Load(pName, pType, hInst);
}

CGdiPlusBitmapResource::CGdiPlusBitmapResource(UINT id, const char* pType, HINSTANCE hInst)
    : m_hBuffer(nullptr) {
    Load(id, pType, hInst);
}

CGdiPlusBitmapResource::CGdiPlusBitmapResource(UINT id, UINT type, HINSTANCE hInst)
    : m_hBuffer(nullptr) {
    Load(id, type, hInst);
}

CGdiPlusBitmapResource::~CGdiPlusBitmapResource() {
    Empty();
}

void CGdiPlusBitmapResource::Empty() {
    // The bitmap may still read from the block: it goes first.
    if (m_pBitmap != nullptr) {
        delete m_pBitmap;
        m_pBitmap = nullptr;
    }
    if (m_hBuffer != nullptr) {
        GlobalUnlock(m_hBuffer);
        GlobalFree(m_hBuffer);
        m_hBuffer = nullptr;
    }
}

namespace {

// Steps 5 to 12 of a load, shared by resources and buffers: copies `size` bytes at `bytes`
// into a new block owned by `self` and decodes them. On failure the object is left empty.
BOOL LoadFromBytes(CGdiPlusBitmapResource& self, const void* bytes, DWORD size) {
    self.m_hBuffer = GlobalAlloc(GMEM_MOVEABLE, size);
    if (self.m_hBuffer == nullptr)
        return FALSE;
    void* block = GlobalLock(self.m_hBuffer);
    if (block == nullptr) {
        GlobalFree(self.m_hBuffer);
        self.m_hBuffer = nullptr;
        return FALSE;
    }
    std::memcpy(block, bytes, size);

    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(self.m_hBuffer, FALSE, &stream) == S_OK) {
        self.m_pBitmap = Gdiplus::Bitmap::FromStream(stream);
        stream->Release();
        if (self.m_pBitmap != nullptr) {
            if (self.m_pBitmap->GetLastStatus() == Gdiplus::Ok)
                return TRUE;
            delete self.m_pBitmap;
            self.m_pBitmap = nullptr;
        }
    }
    GlobalUnlock(self.m_hBuffer);
    GlobalFree(self.m_hBuffer);
    self.m_hBuffer = nullptr;
    return FALSE;
}

} // namespace

BOOL CGdiPlusBitmapResource::Load(const char* pName, const char* pType, HINSTANCE hInst) {
    Empty();
    HRSRC resource = FindResourceA(hInst, pName, pType);
    if (resource == nullptr)
        return FALSE;
    const DWORD size = SizeofResource(hInst, resource);
    if (size == 0)
        return FALSE;
    HGLOBAL loaded = LoadResource(hInst, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr)
        return FALSE;
    return LoadFromBytes(*this, bytes, size);
}

BOOL CGdiPlusBitmapResource::Load(UINT id, const char* pType, HINSTANCE hInst) {
    return Load(MAKEINTRESOURCEA(id & 0xFFFF), pType, hInst);
}

BOOL CGdiPlusBitmapResource::Load(UINT id, UINT type, HINSTANCE hInst) {
    return Load(MAKEINTRESOURCEA(id & 0xFFFF), MAKEINTRESOURCEA(type & 0xFFFF), hInst);
}

BOOL CGdiPlusBitmapResource::Load(BYTE* pBuff, DWORD size) {
    Empty();
    // A null buffer with bytes to copy is refused rather than read. (Size 0 fails below, at
    // the lock of the empty block.)
    if (pBuff == nullptr && size != 0)
        return FALSE;
    return LoadFromBytes(*this, pBuff, size);
}
