// Descriptors handed between the library and its engine over their Unix socket (SCM_RIGHTS):
// the PDF with each request, each image file with the answer to the engine's asking for it.
#pragma once

#include <cstddef>
#include <sys/types.h>
#include <vector>

namespace pxraster {

// sendmsg of up to `size` bytes, `fd` (when >= 0) riding on the first. As send(2), never
// raising SIGPIPE.
ssize_t sendWithFd(int socket, const void* data, size_t size, int fd);

// recvmsg of up to `size` bytes; descriptors that came with them are appended to `fds`
// (close-on-exec). As recv(2).
ssize_t receiveWithFds(int socket, void* data, size_t size, std::vector<int>& fds);

} // namespace pxraster
