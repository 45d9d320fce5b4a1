// Buffered file output that records the first error instead of printing it.
#include "render/companion/codec_p.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pxcodec {

namespace {
constexpr std::size_t BufferSize = 256 * 1024;
}

OutFile::~OutFile() {
    if (m_fd >= 0)
        discard();
}

int OutFile::open(const char* path, bool exclusive) {
    m_path = path;
    const int how = exclusive ? O_CREAT | O_EXCL | O_NOFOLLOW : O_CREAT | O_TRUNC;
    m_fd = ::open(path, O_WRONLY | how | O_CLOEXEC, 0666);
    if (m_fd < 0)
        return errno;
    m_buffer.reserve(BufferSize);
    return 0;
}

void OutFile::adopt(int fd) {
    m_fd = fd;
    m_buffer.reserve(BufferSize);
}

void OutFile::fail(int err) {
    if (m_error == 0)
        m_error = err != 0 ? err : EIO;
}

void OutFile::flush() {
    const uint8_t* p = m_buffer.data();
    std::size_t left = m_buffer.size();
    while (left > 0 && m_error == 0) {
        const ssize_t n = ::write(m_fd, p, left);
        if (n < 0) {
            if (errno != EINTR)
                fail(errno);
            continue;
        }
        if (n == 0) {
            fail(ENOSPC);
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    m_buffer.clear();
}

void OutFile::write(const void* data, std::size_t size) {
    if (m_error != 0 || m_fd < 0)
        return;
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0 && m_error == 0) {
        const std::size_t room = BufferSize - m_buffer.size();
        const std::size_t n = size < room ? size : room;
        m_buffer.insert(m_buffer.end(), p, p + n);
        p += n;
        size -= n;
        if (m_buffer.size() == BufferSize)
            flush();
    }
}

void OutFile::put8(unsigned v) {
    const uint8_t b = static_cast<uint8_t>(v);
    write(&b, 1);
}

void OutFile::put16le(unsigned v) {
    const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    write(b, 2);
}

void OutFile::put32le(uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                          static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    write(b, 4);
}

void OutFile::put32be(uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    write(b, 4);
}

int OutFile::close() {
    if (m_fd < 0)
        return m_error != 0 ? m_error : EBADF;
    flush();
    if (::close(m_fd) != 0)
        fail(errno);
    m_fd = -1;
    return m_error;
}

void OutFile::discard() {
    if (m_fd < 0)
        return;
    // Only a regular file is ours to remove: the path may name a device.
    struct stat st {};
    const bool regular = ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(m_fd);
    m_fd = -1;
    if (regular && m_path != nullptr)
        ::unlink(m_path);
}

} // namespace pxcodec
