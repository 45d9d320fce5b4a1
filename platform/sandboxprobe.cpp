#include "platform/sandboxprobe.h"

#include <QStringList>

#include <cstdlib>
#include <cstring>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

QString SandboxShortfall() {
    const char* setting = std::getenv("PX_SANDBOX");
    if (setting && std::strcmp(setting, "off") == 0)
        return QStringLiteral("The rendering engine runs without its sandbox (PX_SANDBOX=off).");
    // The kernel's Landlock version (0: none); seccomp filters are there when their mode can be
    // asked.
    const long landlock = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, 1U);
    QStringList missing;
    if (landlock < 1)
        missing << QStringLiteral("no Landlock, so the files it may touch are not confined");
    else if (landlock < 3)
        missing << QStringLiteral("Landlock %1, so truncating files is not confined").arg(landlock);
    if (::prctl(PR_GET_SECCOMP, 0, 0, 0, 0) < 0)
        missing << QStringLiteral("no seccomp, so its system calls are not filtered");
    if (missing.isEmpty())
        return {};
    return QStringLiteral("The rendering engine's sandbox is partial on this kernel: %1.")
        .arg(missing.join(QStringLiteral("; ")));
}

} // namespace platform
