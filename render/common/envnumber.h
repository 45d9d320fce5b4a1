// A positive whole number from the environment, for the limits tests shorten.
#pragma once

#include <cstdlib>

namespace pxraster {

// The variable's value when it is a positive decimal number, else the fallback.
inline long envNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return (*end == '\0' && value > 0) ? value : fallback;
}

} // namespace pxraster
