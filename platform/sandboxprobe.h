#pragma once

#include <QString>

namespace platform {

// What the rendering engine's sandbox cannot have on this kernel, as one sentence ending in a
// full stop, or an empty text when it has everything (Landlock with truncation, seccomp
// filters). PX_SANDBOX=off is told as such too.
QString SandboxShortfall();

} // namespace platform
