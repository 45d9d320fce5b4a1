// The confinement the engine enters once, at its start, before it reads any request: it then
// reads only its own files and the system's libraries and fonts, writes and creates nothing
// (every PDF and every image file comes to it as a descriptor the library opened), and makes
// only the system calls rendering needs. No new privileges can be gained.
#pragma once

#include <string>

namespace pxraster {

// Whether PX_SANDBOX asks for no sandbox (a debugging aid).
bool sandboxDisabled();

// The engine's own folder, to be read once confined; empty when it cannot be told.
std::string engineFolder();

// Confines the calling process for good; call it before any thread is started (Landlock holds
// the calling thread and those it starts). `restFolder`, when not empty, is where the engine may
// make and remove the socket it rests at: it may then make Unix sockets, and only those.
// Features the kernel lacks are left out. 0, or the errno of a step the kernel has but refused.
int enterSandbox(const std::string& engineFolder, const std::string& restFolder);

} // namespace pxraster
