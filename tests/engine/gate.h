// A FIFO that a test holds open: the fakes read it to its end before answering, so a test
// decides exactly when a child process or a render call finishes.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

inline void WaitForGate(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return;
    char buffer[64];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
    close(fd);
}
