#include "render/common/passfd.h"

#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace pxraster {

namespace {
// Room for a few descriptors: more than one never comes, but any that do are taken and closed.
constexpr size_t kMostFds = 4;
} // namespace

ssize_t sendWithFd(int socket, const void* data, size_t size, int fd) {
    iovec io{const_cast<void*>(data), size};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (fd >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    }
    return ::sendmsg(socket, &message, MSG_NOSIGNAL);
}

ssize_t receiveWithFds(int socket, void* data, size_t size, std::vector<int>& fds) {
    iovec io{data, size};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(kMostFds * sizeof(int))];
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    if (n < 0)
        return n;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
            fds.push_back(fd);
        }
    }
    return n;
}

} // namespace pxraster
