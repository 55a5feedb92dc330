// Array classes: CArray<TYPE, ARG_TYPE>, CPtrArray, CTypedPtrArray<CPtrArray, T*>, CStringArray.
//
// The storage comes from malloc/free (shared by every module of the process), so an array may
// be filled in one library and emptied in another. Elements are constructed in place and
// copied with their copy constructor and assignment; removal destroys the removed elements and
// moves the later ones down by one place each (the order is kept). An index outside the array
// throws the invalid-argument exception, a negative size too; running out of memory (or a size
// whose byte count would overflow) throws the memory exception. When growing throws, the array
// is left as it was.
#pragma once

#include <platform/afx_object.h>
#include <platform/afx_string.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

namespace afx_detail {
// Bytes for nCount elements of nElementSize, or throws the memory exception on overflow.
std::size_t ArrayBytes(INT_PTR nCount, std::size_t nElementSize);
void* AllocOrThrow(std::size_t nBytes);
} // namespace afx_detail

template <class TYPE, class ARG_TYPE = const TYPE&> class CArray : public CObject {
public:
    CArray() = default;
    ~CArray() override { RemoveAll(); }

    INT_PTR GetSize() const { return m_nSize; }
    INT_PTR GetCount() const { return m_nSize; }
    bool IsEmpty() const { return m_nSize == 0; }
    INT_PTR GetUpperBound() const { return m_nSize - 1; }

    // New elements are default-constructed; elements beyond nNewSize are destroyed.
    // nGrowBy >= 0 sets how many elements a later growth adds at least (0: automatic).
    void SetSize(INT_PTR nNewSize, INT_PTR nGrowBy = -1);

    // Destroys every element and frees the storage.
    void RemoveAll();

    const TYPE& GetAt(INT_PTR nIndex) const { return m_pData[Checked(nIndex)]; }
    TYPE& GetAt(INT_PTR nIndex) { return m_pData[Checked(nIndex)]; }
    TYPE& ElementAt(INT_PTR nIndex) { return m_pData[Checked(nIndex)]; }
    const TYPE& ElementAt(INT_PTR nIndex) const { return m_pData[Checked(nIndex)]; }
    const TYPE& operator[](INT_PTR nIndex) const { return GetAt(nIndex); }
    TYPE& operator[](INT_PTR nIndex) { return ElementAt(nIndex); }
    void SetAt(INT_PTR nIndex, ARG_TYPE newElement) { m_pData[Checked(nIndex)] = newElement; }

    const TYPE* GetData() const { return m_pData; }
    TYPE* GetData() { return m_pData; }

    // Sets element nIndex, growing the array first when nIndex >= GetSize().
    void SetAtGrow(INT_PTR nIndex, ARG_TYPE newElement);
    // Appends; returns the new element's index. newElement may be an element of this array.
    INT_PTR Add(ARG_TYPE newElement) {
        INT_PTR nIndex = m_nSize;
        SetAtGrow(nIndex, newElement);
        return nIndex;
    }

    // Inserts nCount copies of newElement before nIndex (nIndex may be GetSize()).
    void InsertAt(INT_PTR nIndex, ARG_TYPE newElement, INT_PTR nCount = 1);
    // Removes nCount elements from nIndex on; later elements move down.
    void RemoveAt(INT_PTR nIndex, INT_PTR nCount = 1);

    // Makes this array a copy of src (a no-op when src is this array).
    void Copy(const CArray& src);
    // Appends copies of src's elements; returns the index of the first one.
    INT_PTR Append(const CArray& src);

private:
    INT_PTR Checked(INT_PTR nIndex) const {
        if (nIndex < 0 || nIndex >= m_nSize)
            AfxThrowInvalidArgException();
        return nIndex;
    }
    // Makes room for at least nMin elements; existing elements are kept.
    void Grow(INT_PTR nMin);

    TYPE* m_pData = nullptr;
    INT_PTR m_nSize = 0;
    INT_PTR m_nMaxSize = 0;
    INT_PTR m_nGrowBy = 0;
};

template <class TYPE, class ARG_TYPE> void CArray<TYPE, ARG_TYPE>::Grow(INT_PTR nMin) {
    if (nMin <= m_nMaxSize)
        return;
    INT_PTR nGrowBy = m_nGrowBy;
    if (nGrowBy <= 0) {
        nGrowBy = m_nSize / 2;
        if (nGrowBy < 4)
            nGrowBy = 4;
        if (nGrowBy > 1024 * 1024)
            nGrowBy = 1024 * 1024;
    }
    INT_PTR nNewMax = m_nMaxSize;
    if (nGrowBy > PTRDIFF_MAX - nNewMax)
        AfxThrowMemoryException();
    nNewMax += nGrowBy;
    if (nNewMax < nMin)
        nNewMax = nMin;
    TYPE* pNew =
        static_cast<TYPE*>(afx_detail::AllocOrThrow(afx_detail::ArrayBytes(nNewMax, sizeof(TYPE))));
    INT_PTR i = 0;
    try {
        for (; i < m_nSize; ++i)
            ::new (static_cast<void*>(pNew + i)) TYPE(m_pData[i]);
    } catch (...) {
        while (i > 0)
            pNew[--i].~TYPE();
        std::free(pNew);
        throw;
    }
    for (INT_PTR j = 0; j < m_nSize; ++j)
        m_pData[j].~TYPE();
    std::free(m_pData);
    m_pData = pNew;
    m_nMaxSize = nNewMax;
}

template <class TYPE, class ARG_TYPE>
void CArray<TYPE, ARG_TYPE>::SetSize(INT_PTR nNewSize, INT_PTR nGrowBy) {
    if (nNewSize < 0)
        AfxThrowInvalidArgException();
    if (nGrowBy >= 0)
        m_nGrowBy = nGrowBy;
    if (nNewSize == 0) {
        RemoveAll();
        return;
    }
    if (nNewSize > m_nMaxSize) {
        // Exact size for an explicit resize, as callers that size once expect.
        INT_PTR nKeep = m_nGrowBy;
        m_nGrowBy = 1;
        try {
            Grow(nNewSize);
        } catch (...) {
            m_nGrowBy = nKeep;
            throw;
        }
        m_nGrowBy = nKeep;
    }
    while (m_nSize < nNewSize) {
        ::new (static_cast<void*>(m_pData + m_nSize)) TYPE();
        ++m_nSize;
    }
    while (m_nSize > nNewSize) {
        --m_nSize;
        m_pData[m_nSize].~TYPE();
    }
}

template <class TYPE, class ARG_TYPE> void CArray<TYPE, ARG_TYPE>::RemoveAll() {
    for (INT_PTR i = 0; i < m_nSize; ++i)
        m_pData[i].~TYPE();
    std::free(m_pData);
    m_pData = nullptr;
    m_nSize = 0;
    m_nMaxSize = 0;
}

template <class TYPE, class ARG_TYPE>
void CArray<TYPE, ARG_TYPE>::SetAtGrow(INT_PTR nIndex, ARG_TYPE newElement) {
    if (nIndex < 0)
        AfxThrowInvalidArgException();
    if (nIndex < m_nSize) {
        m_pData[nIndex] = newElement;
        return;
    }
    if (nIndex + 1 > m_nMaxSize) {
        // newElement may live in the current block: copy it before the block goes away.
        TYPE keep(newElement);
        Grow(nIndex + 1);
        while (m_nSize < nIndex) {
            ::new (static_cast<void*>(m_pData + m_nSize)) TYPE();
            ++m_nSize;
        }
        ::new (static_cast<void*>(m_pData + m_nSize)) TYPE(keep);
        ++m_nSize;
        return;
    }
    while (m_nSize < nIndex) {
        ::new (static_cast<void*>(m_pData + m_nSize)) TYPE();
        ++m_nSize;
    }
    ::new (static_cast<void*>(m_pData + m_nSize)) TYPE(newElement);
    ++m_nSize;
}

template <class TYPE, class ARG_TYPE>
void CArray<TYPE, ARG_TYPE>::InsertAt(INT_PTR nIndex, ARG_TYPE newElement, INT_PTR nCount) {
    if (nIndex < 0 || nIndex > m_nSize || nCount < 0)
        AfxThrowInvalidArgException();
    if (nCount == 0)
        return;
    TYPE keep(newElement);
    INT_PTR nOld = m_nSize;
    // Grow at the end, then shift the tail up by assignment and fill the gap.
    for (INT_PTR k = 0; k < nCount; ++k)
        SetAtGrow(m_nSize, keep);
    for (INT_PTR i = nOld - 1; i >= nIndex; --i)
        m_pData[i + nCount] = m_pData[i];
    for (INT_PTR i = nIndex; i < nIndex + nCount && i < nOld; ++i)
        m_pData[i] = keep;
}

template <class TYPE, class ARG_TYPE>
void CArray<TYPE, ARG_TYPE>::RemoveAt(INT_PTR nIndex, INT_PTR nCount) {
    if (nIndex < 0 || nCount < 0 || nIndex > m_nSize || nCount > m_nSize - nIndex)
        AfxThrowInvalidArgException();
    if (nCount == 0)
        return;
    for (INT_PTR i = nIndex; i + nCount < m_nSize; ++i)
        m_pData[i] = m_pData[i + nCount];
    for (INT_PTR k = 0; k < nCount; ++k) {
        --m_nSize;
        m_pData[m_nSize].~TYPE();
    }
}

template <class TYPE, class ARG_TYPE> void CArray<TYPE, ARG_TYPE>::Copy(const CArray& src) {
    if (this == &src)
        return;
    RemoveAll();
    if (src.m_nSize == 0)
        return;
    Grow(src.m_nSize);
    for (INT_PTR i = 0; i < src.m_nSize; ++i) {
        ::new (static_cast<void*>(m_pData + i)) TYPE(src.m_pData[i]);
        ++m_nSize;
    }
}

template <class TYPE, class ARG_TYPE> INT_PTR CArray<TYPE, ARG_TYPE>::Append(const CArray& src) {
    INT_PTR nFirst = m_nSize;
    if (this == &src) {
        CArray copy;
        copy.Copy(src);
        return Append(copy);
    }
    Grow(m_nSize + src.m_nSize);
    for (INT_PTR i = 0; i < src.m_nSize; ++i) {
        ::new (static_cast<void*>(m_pData + m_nSize)) TYPE(src.m_pData[i]);
        ++m_nSize;
    }
    return nFirst;
}

// Array of untyped pointers; it never owns what they point to.
class CPtrArray : public CArray<void*, void*> {};

// Typed view of a pointer array: the same storage, element type T*.
template <class BASE_CLASS, class TYPE> class CTypedPtrArray : public BASE_CLASS {
public:
    TYPE GetAt(INT_PTR nIndex) const { return static_cast<TYPE>(BASE_CLASS::GetAt(nIndex)); }
    TYPE operator[](INT_PTR nIndex) const { return GetAt(nIndex); }
    void SetAt(INT_PTR nIndex, TYPE p) { BASE_CLASS::SetAt(nIndex, p); }
    void SetAtGrow(INT_PTR nIndex, TYPE p) { BASE_CLASS::SetAtGrow(nIndex, p); }
    INT_PTR Add(TYPE p) { return BASE_CLASS::Add(p); }
    void InsertAt(INT_PTR nIndex, TYPE p, INT_PTR nCount = 1) {
        BASE_CLASS::InsertAt(nIndex, p, nCount);
    }
};

// Growable array of strings.
class CStringArray : public CArray<CString, const CString&> {
public:
    INT_PTR Add(const char* psz) { return CArray::Add(CString(psz)); }
    INT_PTR Add(const CString& s) { return CArray::Add(s); }
};
