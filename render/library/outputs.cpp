#include "render/library/outputs.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace pxraster {
namespace {

// As many tries as the engine once made: another name is drawn while one is taken.
constexpr int kNameAttempts = 16;

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Only a regular file is ours to remove: the name may have been taken by anything since.
void removeRegular(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        ::unlink(path.c_str());
}

// Some file systems (and old kernels) have no unnamed files.
bool noUnnamedFiles(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// An unnamed file is named through its link in /proc: without /proc, files are named at once.
bool canNameUnnamedFiles() {
    static const bool procThere = ::access("/proc/self/fd", F_OK) == 0;
    return procThere;
}

} // namespace

Outputs::~Outputs() {
    for (auto& [page, file] : files_) {
        if (file.fd >= 0)
            ::close(file.fd);
        if (!file.temporary.empty())
            removeRegular(file.temporary);
    }
}

int Outputs::create(int page, int first, int last, int pageCount, int* fd) {
    const bool valid = multiPage_ ? page == 0 : page >= first && page <= last && page >= 1;
    if (!valid || pageCount < 1 || files_.count(page))
        return EPERM;
    File file;
    file.final =
        page == 0 ? target_.base + "." + target_.ext : pageFileName(target_, page, pageCount);
    // Unnamed until kept: a file cut short has no name to remove, whoever dies.
    if (canNameUnnamedFiles()) {
        file.fd = ::open(folderOf(file.final).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (file.fd < 0 && !noUnnamedFiles(errno))
            return errno;
    }
    // Otherwise under a fresh name, created exclusively: never through anything planted there.
    for (int attempt = 0; file.fd < 0 && attempt < kNameAttempts; ++attempt) {
        file.temporary = temporaryName(file.final);
        file.fd = ::open(file.temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         0666);
        if (file.fd < 0 && errno != EEXIST)
            return errno;
    }
    if (file.fd < 0)
        return EEXIST;
    *fd = file.fd;
    files_.emplace(page, std::move(file));
    return 0;
}

// Links an unnamed file under a fresh temporary name (the final one is replaced by a rename).
int Outputs::name(File& file) {
    if (!file.temporary.empty())
        return 0;
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", file.fd);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string temporary = temporaryName(file.final);
        if (::linkat(AT_FDCWD, self, AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            file.temporary = temporary;
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

int Outputs::keep(int page) {
    const auto found = files_.find(page);
    if (found == files_.end() || found->second.fd < 0)
        return EPERM;
    File& file = found->second;
    int rc = name(file);
    if (rc == 0 && std::rename(file.temporary.c_str(), file.final.c_str()) != 0)
        rc = errno;
    ::close(file.fd);
    file.fd = -1;
    if (rc == 0)
        file.temporary.clear(); // kept: no longer ours to remove
    return rc;
}

} // namespace pxraster
