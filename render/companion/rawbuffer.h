// Bytes that are not cleared when allocated. Bitmaps and compression buffers are written before
// they are read, and clearing a page's hundreds of megabytes costs time and, worse, makes every
// byte resident although a compressed page fills a small part of its buffer.
#pragma once

#include <cstddef>
#include <memory>

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
            m_data.reset(new unsigned char[size]);
            m_size = size;
        }
    }
    void release() {
        m_data.reset();
        m_size = 0;
    }

private:
    std::unique_ptr<unsigned char[]> m_data;
    std::size_t m_size = 0;
};

} // namespace pxcodec
