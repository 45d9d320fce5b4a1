#include "render/companion/sandbox.h"

#include "render/common/sanitized.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pxraster {
namespace {

// Landlock's rights and attributes, spelled out here: Debian's kernel headers stop at its
// second version, the kernels it runs on go further.
constexpr uint64_t kFsExecute = 1ULL << 0;
constexpr uint64_t kFsWriteFile = 1ULL << 1;
constexpr uint64_t kFsReadFile = 1ULL << 2;
constexpr uint64_t kFsReadDir = 1ULL << 3;
constexpr uint64_t kFsRemoveFile = 1ULL << 5;
constexpr uint64_t kFsMakeSock = 1ULL << 9;
constexpr uint64_t kFsFirstVersion = (1ULL << 13) - 1;
constexpr uint64_t kFsRefer = 1ULL << 13;    // version 2
constexpr uint64_t kFsTruncate = 1ULL << 14; // version 3
constexpr uint64_t kFsIoctlDev = 1ULL << 15; // version 5
constexpr uint64_t kNetBindTcp = 1ULL << 0;  // version 4
constexpr uint64_t kNetConnectTcp = 1ULL << 1;
constexpr uint64_t kScopeAbstractUnix = 1ULL << 0; // version 6
constexpr uint64_t kScopeSignal = 1ULL << 1;
constexpr unsigned kRulesetVersion = 1U << 0;
constexpr int kRulePathBeneath = 1;

struct RulesetAttr {
    uint64_t handledFs;
    uint64_t handledNet;
    uint64_t scoped;
};

struct __attribute__((packed)) PathBeneathAttr {
    uint64_t allowed;
    int32_t parentFd;
};

int landlockVersion() {
    const long version = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, kRulesetVersion);
    return version < 0 ? 0 : static_cast<int>(version);
}

// Kernels without seccomp filters answer EINVAL to a query of their mode.
bool haveSeccomp() {
    return ::prctl(PR_GET_SECCOMP, 0, 0, 0, 0) >= 0;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// A path missing on this system is no error: nothing there needs reading. A file takes only
// the rights that concern files.
int allowBeneath(int ruleset, const std::string& path, uint64_t rights) {
    const Fd target(::open(path.c_str(), O_PATH | O_CLOEXEC));
    if (target.get() < 0)
        return errno == ENOENT || errno == ENOTDIR ? 0 : errno;
    struct stat st {};
    if (::fstat(target.get(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        rights &= kFsExecute | kFsWriteFile | kFsReadFile | kFsTruncate | kFsIoctlDev;
    const PathBeneathAttr rule{rights, target.get()};
    return ::syscall(SYS_landlock_add_rule, ruleset, kRulePathBeneath, &rule, 0) == 0 ? 0 : errno;
}

// What the engine may still read: libraries it may load late (gconv modules, the unwinder),
// fonts, and the random source.
constexpr const char* kSystemReadable[] = {"/lib",         "/lib64",           "/usr/lib",
                                           "/usr/lib64",   "/usr/share/fonts", "/etc/fonts",
                                           "/dev/urandom", "/etc/ld.so.cache"};

int restrictFiles(int version, const std::string& engine, const std::string& rest) {
    RulesetAttr attr{kFsFirstVersion, 0, 0};
    size_t attrSize = sizeof attr.handledFs;
    if (version >= 2)
        attr.handledFs |= kFsRefer;
    if (version >= 3)
        attr.handledFs |= kFsTruncate;
    if (version >= 4) {
        attr.handledNet = kNetBindTcp | kNetConnectTcp;
        attrSize = offsetof(RulesetAttr, scoped);
    }
    if (version >= 5)
        attr.handledFs |= kFsIoctlDev;
    if (version >= 6) {
        attr.scoped = kScopeAbstractUnix | kScopeSignal;
        attrSize = sizeof attr;
    }
    const Fd ruleset(static_cast<int>(::syscall(SYS_landlock_create_ruleset, &attr, attrSize, 0)));
    if (ruleset.get() < 0)
        return errno;
    const uint64_t read = kFsReadFile | kFsReadDir;
    int rc = engine.empty() ? 0 : allowBeneath(ruleset.get(), engine, read);
    for (const char* path : kSystemReadable) {
        if (rc == 0)
            rc = allowBeneath(ruleset.get(), path, read);
    }
    // The socket it rests at, made and removed there.
    if (rc == 0 && !rest.empty())
        rc = allowBeneath(ruleset.get(), rest, kFsMakeSock | kFsRemoveFile);
#ifdef PX_SANITIZED
    // The sanitizers read the process's maps and threads (the leak check at the end above all,
    // from a tracer process of its own, which /proc/self would not name).
    if (rc == 0)
        rc = allowBeneath(ruleset.get(), "/proc", read);
#endif
    if (rc)
        return rc;
    return ::syscall(SYS_landlock_restrict_self, ruleset.get(), 0) == 0 ? 0 : errno;
}

// What rendering asks of the kernel: reading, writing and closing descriptors it was given,
// memory, threads and their locks, time, and the channel. Anything else fails with EPERM.
constexpr const char* kAllowed[] = {
    "read",
    "write",
    "readv",
    "writev",
    "pread64",
    "pwrite64",
    "preadv",
    "pwritev",
    "lseek",
    "close",
    "fstat",
    "stat",
    "lstat",
    "newfstatat",
    "statx",
    "fstatfs",
    "openat",
    "open",
    "access",
    "faccessat",
    "faccessat2",
    "readlink",
    "readlinkat",
    "getdents64",
    "getcwd",
    "mmap",
    "munmap",
    "mprotect",
    "mremap",
    "madvise",
    "brk",
    "mincore",
    "membarrier",
    "futex",
    "set_robust_list",
    "get_robust_list",
    "rseq",
    "set_tid_address",
    "exit",
    "exit_group",
    "rt_sigaction",
    "rt_sigprocmask",
    "rt_sigreturn",
    "sigaltstack",
    "tgkill",
    "tkill",
    "restart_syscall",
    "gettid",
    "getpid",
    "getppid",
    "getuid",
    "geteuid",
    "getgid",
    "getegid",
    "poll",
    "ppoll",
    "nanosleep",
    "clock_nanosleep",
    "clock_gettime",
    "clock_getres",
    "gettimeofday",
    "sched_yield",
    "sched_getaffinity",
    "prctl",
    "fcntl",
    "dup",
    "dup2",
    "dup3",
    "ftruncate",
    "fallocate",
    "sendto",
    "sendmsg",
    "recvfrom",
    "recvmsg",
    "getrandom",
    "uname",
    "sysinfo",
    "getrlimit",
    "shutdown",
#ifdef PX_SANITIZED
    // The leak check stops the threads from a tracer thread of its own, which lists them with
    // the old getdents; UBSan tries whether memory can be read by writing it into a pipe.
    "ptrace",
    "wait4",
    "kill",
    "getdents",
    "pipe",
    "pipe2",
#endif
};

// Resting: its socket made, listened at, its caller accepted and checked, then removed.
constexpr const char* kRestCalls[] = {"bind",       "listen", "accept4",
                                      "getsockopt", "unlink", "unlinkat"};

// Calls that rendering never makes: made anyway, they can only be an attack, and the process
// ends at once. socket is among them for every family but Unix, and for that too when the
// engine never rests.
constexpr const char* kFatal[] = {"execve", "execveat", "connect", "mount", "socketpair",
#ifndef PX_SANITIZED
                                  "ptrace"
#endif
};

// Thread creation only: a new namespace would be a way out.
constexpr uint64_t kNamespaceFlags = CLONE_NEWNS | CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET |
                                     CLONE_NEWIPC | CLONE_NEWUTS | CLONE_NEWCGROUP;

int addByName(scmp_filter_ctx filter, uint32_t action, const char* name) {
    const int number = seccomp_syscall_resolve_name(name);
    return number == __NR_SCMP_ERROR ? 0 : seccomp_rule_add(filter, action, number, 0);
}

int filterCalls(bool rests) {
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ERRNO(EPERM));
    if (!filter)
        return ENOMEM;
    // Threads a sanitizer's runtime started before are held too.
    int rc = seccomp_attr_set(filter, SCMP_FLTATR_CTL_TSYNC, 1);
    // A binary tree of the calls instead of a list: each call is checked in a few steps. Older
    // libseccomp builds a list, which works as well.
    seccomp_attr_set(filter, SCMP_FLTATR_CTL_OPTIMIZE, 2);
    for (const char* name : kAllowed)
        if (rc == 0)
            rc = addByName(filter, SCMP_ACT_ALLOW, name);
    for (const char* name : kFatal)
        if (rc == 0)
            rc = addByName(filter, SCMP_ACT_KILL_PROCESS, name);
    if (rests) {
        for (const char* name : kRestCalls)
            if (rc == 0)
                rc = addByName(filter, SCMP_ACT_ALLOW, name);
        if (rc == 0)
            rc = seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(socket), 1,
                                  SCMP_A0(SCMP_CMP_EQ, AF_UNIX));
        if (rc == 0)
            rc = seccomp_rule_add(filter, SCMP_ACT_KILL_PROCESS, SCMP_SYS(socket), 1,
                                  SCMP_A0(SCMP_CMP_NE, AF_UNIX));
    } else if (rc == 0) {
        rc = seccomp_rule_add(filter, SCMP_ACT_KILL_PROCESS, SCMP_SYS(socket), 0);
    }
    if (rc == 0)
        rc = seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(clone), 1,
                              SCMP_A0(SCMP_CMP_MASKED_EQ, kNamespaceFlags, 0));
    // Its flags lie behind a pointer the filter cannot read: ENOSYS sends glibc back to clone.
    if (rc == 0)
        rc = seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0);
    // Reading a limit only (prlimit64 with no new value).
    if (rc == 0)
        rc = seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), 1,
                              SCMP_A2(SCMP_CMP_EQ, 0));
    if (rc == 0)
        rc = seccomp_load(filter);
    seccomp_release(filter);
    return rc < 0 ? -rc : rc;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

bool sandboxDisabled() {
    const char* value = std::getenv("PX_SANDBOX");
    return value && std::strcmp(value, "off") == 0;
}

std::string engineFolder() {
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    return n > 0 ? folderOf(std::string(self, static_cast<size_t>(n))) : std::string();
}

int enterSandbox(const std::string& engine, const std::string& restFolder) {
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return errno;
    if (const int version = landlockVersion()) {
        if (const int rc = restrictFiles(version, engine, restFolder))
            return rc;
    }
    return haveSeccomp() ? filterCalls(!restFolder.empty()) : 0;
}

} // namespace pxraster
