// File objects: the ring through which copies of one object share its handle or buffer.
#pragma once

namespace qr {

// Links pSelf into src's ring, just after src. Next and Prev name the object's ring fields;
// the ring lives in mutable fields, so a const source can take a new member.
template <class T>
void joinRing(T* pSelf, const T& src, T* T::*pNext, T* T::*pPrev) {
    T& source = const_cast<T&>(src);
    pSelf->*pNext = source.*pNext;
    pSelf->*pPrev = &source;
    (source.*pNext)->*pPrev = pSelf;
    source.*pNext = pSelf;
}

// Unlinks pSelf from its ring, leaving it a ring of one; true when other copies remain.
template <class T>
bool leaveRing(T* pSelf, T* T::*pNext, T* T::*pPrev) {
    if (pSelf->*pNext == pSelf) return false;
    (pSelf->*pPrev)->*pNext = pSelf->*pNext;
    (pSelf->*pNext)->*pPrev = pSelf->*pPrev;
    pSelf->*pPrev = pSelf->*pNext = pSelf;
    return true;
}

}  // namespace qr
