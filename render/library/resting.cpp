#include "render/library/resting.h"

#include "render/common/envnumber.h"
#include "render/common/protocol.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

namespace pxraster {
namespace {

// A socket nobody listens at any more is removed only once it is this old: a companion that
// has just bound its socket is not yet listening.
constexpr time_t kStaleSeconds = 60;
constexpr int kGreetingWaitMs = 1000;

std::string restFolder() {
    const char* folder = std::getenv("PX_ENGINE_REST_DIR");
    if (!folder || !*folder || envNumber("PX_ENGINE_REST_MS", 0) <= 0)
        return {};
    return folder;
}

bool fitsAddress(const std::string& path) {
    return path.size() < sizeof(sockaddr_un{}.sun_path);
}

void removeIfStale(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
        st.st_mtime + kStaleSeconds < std::time(nullptr))
        ::unlink(path.c_str());
}

// Reads the greeting; false when the companion went away or said anything else.
bool readGreeting(int fd) {
    const size_t want = sizeof kRestGreeting - 1;
    char got[sizeof kRestGreeting] = {};
    size_t have = 0;
    while (have < want) {
        pollfd watched{fd, POLLIN, 0};
        const int ready = ::poll(&watched, 1, kGreetingWaitMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::recv(fd, got + have, want - have, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        have += static_cast<size_t>(n);
    }
    return std::memcmp(got, kRestGreeting, want) == 0;
}

bool takeOver(const std::string& path, TakenOver& taken) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // Not blocking: a companion another caller is taking over right now is passed by.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno == ECONNREFUSED)
            removeIfStale(path);
        ::close(fd);
        return false;
    }
    ucred peer{};
    socklen_t size = sizeof peer;
    int pidfd = -1;
    bool ok = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
              peer.uid == ::getuid() && peer.pid > 0;
    // The system call itself: this glibc's <sys/pidfd.h> declares its wrappers without C linkage.
    if (ok)
        ok = (pidfd = static_cast<int>(::syscall(SYS_pidfd_open, peer.pid, 0))) >= 0;
    // The greeting comes after the pidfd was opened, and the channel is still open after it: so
    // the pidfd is the companion's, not that of a process that got its number since.
    if (ok)
        ok = readGreeting(fd);
    if (ok) {
        pollfd watched{fd, POLLIN, 0};
        ok = ::poll(&watched, 1, 0) == 0;
    }
    if (ok) {
        const int flags = ::fcntl(fd, F_GETFL);
        ok = flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
    }
    if (!ok) {
        if (pidfd >= 0)
            ::close(pidfd);
        ::close(fd);
        return false;
    }
    taken = {fd, peer.pid, pidfd};
    return true;
}

} // namespace

std::string restKey(const std::string& companion, const std::string& settings) {
    uint64_t hash = 0xcbf29ce484222325ULL; // FNV-1a
    for (const std::string* text : {&companion, &settings}) {
        for (const unsigned char c : *text)
            hash = (hash ^ c) * 0x100000001b3ULL;
        hash = (hash ^ 0xff) * 0x100000001b3ULL;
    }
    char key[17];
    std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(hash));
    return key;
}

std::string newRestPath(const std::string& key) {
    const std::string folder = restFolder();
    if (folder.empty())
        return {};
    uint32_t unique = 0;
    if (getrandom(&unique, sizeof unique, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof unique))
        unique = static_cast<uint32_t>(::getpid()) ^ static_cast<uint32_t>(std::time(nullptr));
    char name[32];
    std::snprintf(name, sizeof name, "/%s-%08x", key.c_str(), unique);
    const std::string path = folder + name;
    return fitsAddress(path) ? path : std::string();
}

bool takeOverResting(const std::string& key, TakenOver& taken) {
    const std::string folder = restFolder();
    if (folder.empty())
        return false;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    const std::string prefix = key + "-";
    bool found = false;
    while (!found) {
        const dirent* entry = ::readdir(dir);
        if (!entry)
            break;
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0)
            continue;
        const std::string path = folder + "/" + entry->d_name;
        found = fitsAddress(path) && takeOver(path, taken);
    }
    ::closedir(dir);
    return found;
}

} // namespace pxraster
