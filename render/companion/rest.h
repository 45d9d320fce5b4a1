// Between runs of the command an idle companion may wait a little for the next run to take it
// over: a shell loop that starts the command for every few files then does not pay for a fresh
// process, its libraries and its first touch of memory each time.
#pragma once

#include <string>

namespace pxraster {

// Listens at `path` (a socket in the user's private cache) for at most `ms` milliseconds.
// Returns the channel of the first caller of this user that connects, the greeting already
// sent, or -1 when none came. The path is removed either way.
int restUntilCalled(const std::string& path, long ms);

} // namespace pxraster
