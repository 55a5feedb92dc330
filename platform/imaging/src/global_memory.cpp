// Movable memory blocks and read-only streams over them.
#include <platform/win_gdiplus.h>

#include "global_memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

struct GlobalBlock {
    unsigned char* data; // null for a block of 0 bytes
    std::size_t size;
    std::atomic<unsigned> locks;
};

GlobalBlock* AsBlock(HGLOBAL h) {
    return static_cast<GlobalBlock*>(h);
}

// A stream over a block. The position may lie beyond the end; reads there give nothing.
class BlockStream final : public IStream {
public:
    BlockStream(HGLOBAL block, bool ownsBlock) : block_(block), ownsBlock_(ownsBlock) {}

    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (pcbRead != nullptr)
            *pcbRead = 0;
        if (pv == nullptr)
            return STG_E_INVALIDPOINTER;
        const std::size_t size = AsBlock(block_)->size;
        ULONG n = 0;
        if (pos_ < size) {
            const std::size_t left = size - static_cast<std::size_t>(pos_);
            n = left < cb ? static_cast<ULONG>(left) : cb;
            std::memcpy(pv, AsBlock(block_)->data + pos_, n);
            pos_ += n;
        }
        if (pcbRead != nullptr)
            *pcbRead = n;
        return S_OK;
    }

    HRESULT Write(const void*, ULONG, ULONG* pcbWritten) override {
        if (pcbWritten != nullptr)
            *pcbWritten = 0;
        return STG_E_ACCESSDENIED;
    }

    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override {
        std::int64_t base;
        switch (origin) {
        case STREAM_SEEK_SET:
            base = 0;
            break;
        case STREAM_SEEK_CUR:
            base = static_cast<std::int64_t>(pos_);
            break;
        case STREAM_SEEK_END:
            base = static_cast<std::int64_t>(AsBlock(block_)->size);
            break;
        default:
            return STG_E_INVALIDFUNCTION;
        }
        const std::int64_t delta = move.QuadPart;
        // base is at most the block size (or an earlier position), so only a positive move
        // can overflow.
        if (delta > 0 && delta > INT64_MAX - base)
            return STG_E_INVALIDFUNCTION;
        const std::int64_t target = base + delta;
        if (target < 0)
            return STG_E_INVALIDFUNCTION;
        pos_ = static_cast<std::uint64_t>(target);
        if (newPos != nullptr)
            newPos->QuadPart = pos_;
        return S_OK;
    }

    HRESULT SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }

    HRESULT Stat(STATSTG* st, DWORD) override {
        if (st == nullptr)
            return STG_E_INVALIDPOINTER;
        std::memset(st, 0, sizeof *st);
        st->type = STGTY_STREAM;
        st->cbSize.QuadPart = AsBlock(block_)->size;
        return S_OK;
    }

    // Direct view of the bytes, for the decoders in this library.
    const unsigned char* Bytes() const { return AsBlock(block_)->data; }
    std::size_t Size() const { return AsBlock(block_)->size; }

private:
    ~BlockStream() {
        if (ownsBlock_)
            GlobalFree(block_);
    }

    HGLOBAL block_;
    bool ownsBlock_;
    std::uint64_t pos_ = 0;
    std::atomic<ULONG> refs_{1};
};

} // namespace

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
    GlobalBlock* b = new (std::nothrow) GlobalBlock{nullptr, dwBytes, {0}};
    if (b == nullptr)
        return nullptr;
    if (dwBytes != 0) {
        b->data = static_cast<unsigned char*>((uFlags & GMEM_ZEROINIT) ? std::calloc(dwBytes, 1)
                                                                       : std::malloc(dwBytes));
        if (b->data == nullptr) {
            delete b;
            return nullptr;
        }
    }
    return b;
}

LPVOID GlobalLock(HGLOBAL hMem) {
    GlobalBlock* b = AsBlock(hMem);
    if (b == nullptr || b->data == nullptr)
        return nullptr;
    ++b->locks;
    return b->data;
}

BOOL GlobalUnlock(HGLOBAL hMem) {
    GlobalBlock* b = AsBlock(hMem);
    if (b == nullptr)
        return FALSE;
    unsigned n = b->locks.load();
    while (n != 0 && !b->locks.compare_exchange_weak(n, n - 1)) {
    }
    return n > 1 ? TRUE : FALSE;
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
    GlobalBlock* b = AsBlock(hMem);
    if (b == nullptr)
        return nullptr;
    std::free(b->data);
    delete b;
    return nullptr;
}

SIZE_T GlobalSize(HGLOBAL hMem) {
    return hMem == nullptr ? 0 : AsBlock(hMem)->size;
}

UINT GlobalFlags(HGLOBAL hMem) {
    if (hMem == nullptr)
        return GMEM_INVALID_HANDLE;
    const unsigned n = AsBlock(hMem)->locks.load();
    return n > GMEM_LOCKCOUNT ? GMEM_LOCKCOUNT : n;
}

HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, LPSTREAM* ppstm) {
    if (ppstm == nullptr)
        return E_INVALIDARG;
    *ppstm = nullptr;
    bool owns = fDeleteOnRelease != FALSE;
    if (hGlobal == nullptr) {
        // Nobody else holds this block, so the stream frees it whatever the flag says.
        hGlobal = GlobalAlloc(GMEM_MOVEABLE, 0);
        if (hGlobal == nullptr)
            return E_OUTOFMEMORY;
        owns = true;
    }
    BlockStream* s = new (std::nothrow) BlockStream(hGlobal, owns);
    if (s == nullptr) {
        if (owns)
            GlobalFree(hGlobal);
        return E_OUTOFMEMORY;
    }
    *ppstm = s;
    return S_OK;
}

namespace imaging {

bool StreamBytes(IStream* stream, const unsigned char*& data, std::size_t& size) {
    BlockStream* s = dynamic_cast<BlockStream*>(stream);
    if (s == nullptr)
        return false;
    data = s->Bytes();
    size = s->Size();
    return true;
}

} // namespace imaging
