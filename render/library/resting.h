// Companions that rest between runs of the command (PX_ENGINE_REST_DIR, PX_ENGINE_REST_MS): an
// idle companion whose caller let go waits a little at a socket in the user's private cache,
// and the next run's call takes it over instead of starting a fresh one.
#pragma once

#include <string>
#include <sys/types.h>

namespace pxraster {

// Names a companion build (its path, which holds the package's hash) with the settings it was
// started with: only a companion of the same key may serve a call.
std::string restKey(const std::string& companion, const std::string& settings);

// Where a companion about to start should rest; empty when resting is off or the path would not
// fit a socket address.
std::string newRestPath(const std::string& key);

struct TakenOver {
    int channel = -1;
    pid_t pid = -1;
    int pidfd = -1; // not our child: signalled and awaited through this
};

// Takes over a resting companion of `key`, of this user and alive, its greeting read. False
// when there is none; stale sockets of companions that died resting are removed on the way.
bool takeOverResting(const std::string& key, TakenOver& taken);

} // namespace pxraster
