#include "render/companion/rest.h"

#include "render/common/protocol.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace pxraster {

int restUntilCalled(const std::string& path, long ms) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (ms <= 0 || path.empty() || path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listening < 0)
        return -1;
    // A backlog of one: a second caller racing for this companion is refused, not left waiting.
    if (::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listening, 1) != 0) {
        ::close(listening);
        return -1;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    int channel = -1;
    while (channel < 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd watched{listening, POLLIN, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        const int caller = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        if (caller < 0)
            continue;
        ucred peer{};
        socklen_t size = sizeof peer;
        // The folder is the user's own; a caller of another user is refused all the same.
        if (::getsockopt(caller, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
            peer.uid == ::getuid() &&
            ::send(caller, kRestGreeting, sizeof kRestGreeting - 1, MSG_NOSIGNAL) ==
                static_cast<ssize_t>(sizeof kRestGreeting - 1))
            channel = caller;
        else
            ::close(caller);
    }
    ::unlink(path.c_str());
    ::close(listening);
    return channel;
}

} // namespace pxraster
