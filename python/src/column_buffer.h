// Python package qrcore: a growing column of doubles that becomes a numpy array without a copy.
// Large columns live in their own anonymous mapping, grown with mremap: room reserved but not
// yet written costs no memory, and the final array is cut to its size, so reading a file needs
// little more memory than the arrays it returns.
#pragma once

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>

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

    void push(double d) {
        if (m_nSize == m_nCapacity) grow();
        m_p[m_nSize++] = d;
    }
    std::size_t size() const { return m_nSize; }

    // A float64 array of shape (rows,) or (rows, nWidth) holding the values; the buffer is empty
    // afterwards. Needs the GIL.
    py::array take(std::size_t nWidth) {
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
        const py::ssize_t nRows = static_cast<py::ssize_t>(nBytes / sizeof(double) / nWidth);
        static double s_dEmpty = 0;
        double* pData = p != nullptr ? p : &s_dEmpty;
        if (nWidth == 1) return py::array_t<double>({nRows}, {sizeof(double)}, pData, keeper);
        return py::array_t<double>({nRows, static_cast<py::ssize_t>(nWidth)},
                                   {static_cast<py::ssize_t>(nWidth * sizeof(double)), static_cast<py::ssize_t>(sizeof(double))},
                                   pData, keeper);
    }

private:
    struct Owner {
        double* p;
        std::size_t nCapacity;
    };
    static constexpr std::size_t kSmall = std::size_t{1} << 17;  // doubles kept on the heap (1 MiB)

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

    void grow() {
        const std::size_t nNew = m_nCapacity == 0 ? 64 : m_nCapacity * 2;
        if (nNew <= kSmall) {
            void* p = std::realloc(m_p, nNew * sizeof(double));
            if (p == nullptr) throw std::bad_alloc();
            m_p = static_cast<double*>(p);
        } else if (m_nCapacity <= kSmall) {
            void* p = mmap(nullptr, nNew * sizeof(double), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p == MAP_FAILED) throw std::bad_alloc();
            std::memcpy(p, m_p, m_nSize * sizeof(double));
            std::free(m_p);
            m_p = static_cast<double*>(p);
        } else {
            void* p = mremap(m_p, m_nCapacity * sizeof(double), nNew * sizeof(double), MREMAP_MAYMOVE);
            if (p == MAP_FAILED) throw std::bad_alloc();
            m_p = static_cast<double*>(p);
        }
        m_nCapacity = nNew;
    }

    double* m_p = nullptr;
    std::size_t m_nSize = 0;
    std::size_t m_nCapacity = 0;
};

}  // namespace qrpy
