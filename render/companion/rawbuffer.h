// Bytes that are not cleared when allocated. Bitmaps and compression buffers are written before
// they are read, and clearing a page's hundreds of megabytes costs time and, worse, makes every
// byte resident although a compressed page fills a small part of its buffer.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <sys/mman.h>

namespace pxcodec {

class RawBuffer {
public:
    unsigned char* data() { return m_data.get(); }
    std::size_t size() const { return m_size; }
    // At least `size` bytes; the contents are not kept when it grows. Throws std::bad_alloc.
    void grow(std::size_t size) {
        if (size > m_size) {
            m_data.reset();
            m_size = 0;
            m_data.reset(allocate(size));
            m_size = size;
        }
    }
    void release() {
        m_data.reset();
        m_size = 0;
    }

private:
    // A bitmap-sized buffer asks for huge pages: touching it then takes a fault every 2 MB
    // instead of every 4 KB, which is a good part of a small page's time.
    static constexpr std::size_t kHugePage = std::size_t{2} << 20;

    static unsigned char* allocate(std::size_t size) {
        void* p = nullptr;
        if (size >= 2 * kHugePage) {
            const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
            p = std::aligned_alloc(kHugePage, rounded);
            if (p)
                ::madvise(p, rounded, MADV_HUGEPAGE);
        } else {
            p = std::malloc(size);
        }
        if (!p)
            throw std::bad_alloc();
        return static_cast<unsigned char*>(p);
    }

    struct Free {
        void operator()(unsigned char* p) const { std::free(p); }
    };
    std::unique_ptr<unsigned char[], Free> m_data;
    std::size_t m_size = 0;
};

} // namespace pxcodec
