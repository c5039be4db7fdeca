// Python package qrcore: a growing column of doubles that becomes numpy arrays without a copy.
// Large columns live in their own anonymous mapping, grown with mremap and asking for huge
// pages (one fault per 2 MiB rather than per 4 KiB): room reserved but not yet written costs no
// memory, and the final block is cut to its size, so reading a file needs little more memory
// than the arrays it returns.
#pragma once

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "bindings.h"

namespace qrpy {

class ColumnBuffer {
public:
    ColumnBuffer() = default;
    ~ColumnBuffer() { release(m_p, m_nCapacity); }
    ColumnBuffer(ColumnBuffer&& other) noexcept
        : m_p(std::exchange(other.m_p, nullptr)), m_nSize(std::exchange(other.m_nSize, 0)),
          m_nCapacity(std::exchange(other.m_nCapacity, 0)) {}
    ColumnBuffer& operator=(ColumnBuffer&&) = delete;
    ColumnBuffer(const ColumnBuffer&) = delete;

    std::size_t size() const { return m_nSize; }
    // Values that can be added before the buffer grows (and moves).
    std::size_t room() const { return m_nCapacity - m_nSize; }
    // Grows the buffer, if need be, to take nMore values beyond its size.
    void reserve(std::size_t nMore) {
        while (room() < nMore) grow();
    }
    // Sets the size up to the capacity: values beyond the old size are written through data().
    void resize(std::size_t nSize) { m_nSize = std::min(nSize, m_nCapacity); }
    double* data() { return m_p; }

    // The values as one block for arrays to share: its start, and the object that frees it when
    // the last array made over it (with it as base) is gone. The buffer is empty afterwards.
    // Needs the GIL.
    std::pair<double*, py::capsule> share() {
        const std::size_t nBytes = m_nSize * sizeof(double);
        double* p = m_p;
        std::size_t nCapacity = m_nCapacity;
        if (p != nullptr && nCapacity > kSmall) {
            const std::size_t nKeep = roundPages(nBytes);
            if (nKeep < nCapacity * sizeof(double)) {
                munmap(reinterpret_cast<char*>(p) + nKeep, nCapacity * sizeof(double) - nKeep);
                nCapacity = nKeep / sizeof(double);
            }
        } else if (p != nullptr && m_nSize < nCapacity && m_nSize > 0) {
            if (void* pSmaller = std::realloc(p, nBytes)) p = static_cast<double*>(pSmaller), nCapacity = m_nSize;
        }
        m_p = nullptr;
        m_nSize = m_nCapacity = 0;
        auto* pOwner = new Owner{p, nCapacity};
        py::capsule keeper(pOwner, [](void* pv) {
            auto* pOwned = static_cast<Owner*>(pv);
            release(pOwned->p, pOwned->nCapacity);
            delete pOwned;
        });
        static double s_dEmpty = 0;
        return {p != nullptr ? p : &s_dEmpty, keeper};
    }

    // A float64 array of shape (rows,) or (rows, nWidth) over nValues values from pData, kept
    // alive by owner (from share()).
    static py::array view(double* pData, std::size_t nValues, std::size_t nWidth, const py::capsule& owner) {
        const py::ssize_t nRows = static_cast<py::ssize_t>(nValues / nWidth);
        if (nWidth == 1) return py::array_t<double>({nRows}, {sizeof(double)}, pData, owner);
        return py::array_t<double>({nRows, static_cast<py::ssize_t>(nWidth)},
                                   {static_cast<py::ssize_t>(nWidth * sizeof(double)), static_cast<py::ssize_t>(sizeof(double))},
                                   pData, owner);
    }

private:
    struct Owner {
        double* p;
        std::size_t nCapacity;
    };
    static constexpr std::size_t kSmall = std::size_t{1} << 17;  // doubles kept on the heap (1 MiB)
    static constexpr std::size_t kHuge = std::size_t{2} << 20;   // a huge page

    static std::size_t roundPages(std::size_t nBytes) {
        const std::size_t nPage = 4096;
        return (nBytes + nPage - 1) / nPage * nPage;
    }
    static void release(double* p, std::size_t nCapacity) {
        if (p == nullptr) return;
        if (nCapacity > kSmall) {
            munmap(p, roundPages(nCapacity * sizeof(double)));
        } else {
            std::free(p);
        }
    }
    // nBytes (a multiple of kHuge) of fresh address space starting on a huge page's boundary,
    // so that the kernel can back all of it with huge pages.
    static char* mapAligned(std::size_t nBytes) {
        void* p = mmap(nullptr, nBytes + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        char* pStart = static_cast<char*>(p);
        const std::size_t nHead = (kHuge - reinterpret_cast<uintptr_t>(pStart) % kHuge) % kHuge;
        if (nHead > 0) munmap(pStart, nHead);
        munmap(pStart + nHead + nBytes, kHuge - nHead);
        return pStart + nHead;
    }

    [[gnu::noinline]] void grow() {
        const std::size_t nNew = m_nCapacity == 0 ? 64 : m_nCapacity * 2;
        if (nNew <= kSmall) {
            void* p = std::realloc(m_p, nNew * sizeof(double));
            if (p == nullptr) throw std::bad_alloc();
            m_p = static_cast<double*>(p);
            m_nCapacity = nNew;
            return;
        }
        const std::size_t nBytes = nNew * sizeof(double);
        char* p = mapAligned(nBytes);
        if (m_nCapacity <= kSmall) {
            std::memcpy(p, m_p, m_nSize * sizeof(double));
            std::free(m_p);
        } else if (mremap(m_p, m_nCapacity * sizeof(double), nBytes, MREMAP_MAYMOVE | MREMAP_FIXED, p) == MAP_FAILED) {
            munmap(p, nBytes);
            throw std::bad_alloc();
        }
        // Without huge pages (not configured, or not for this process) the mapping works all the same.
        madvise(p, nBytes, MADV_HUGEPAGE);
        m_p = reinterpret_cast<double*>(p);
        m_nCapacity = nNew;
    }

    double* m_p = nullptr;
    std::size_t m_nSize = 0;
    std::size_t m_nCapacity = 0;
};

}  // namespace qrpy
