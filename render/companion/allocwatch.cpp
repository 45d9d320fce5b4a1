// The process's malloc family, wrapped around glibc's own allocator so that every failure is
// seen: MuPDF's, openjpeg's, libjpeg's and ours alike.
#include "render/companion/allocwatch.h"

#include "render/common/sanitized.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <malloc.h>

#ifndef PX_SANITIZED

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* old, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

// Plain data with static TLS: reading it inside malloc allocates nothing.
struct Watch {
    unsigned long failures;
    size_t retrySize; // of the latest failure, while the next call may be its retry
    bool retrying;
};
thread_local Watch t_watch;

// MuPDF answers a failed allocation by freeing cached objects and asking again for the same
// size at once; the first failure is taken back when that retry succeeds.
void* note(void* result, size_t size) {
    Watch& watch = t_watch;
    const bool retry = watch.retrying && watch.retrySize == size;
    if (result) {
        if (retry)
            --watch.failures;
        watch.retrying = false;
    } else {
        if (!retry)
            ++watch.failures;
        watch.retrying = true;
        watch.retrySize = size;
    }
    return result;
}

bool validAlignment(size_t alignment) {
    return alignment != 0 && (alignment & (alignment - 1)) == 0;
}

} // namespace

extern "C" {

void* malloc(size_t size) noexcept {
    return note(__libc_malloc(size), size);
}

void* calloc(size_t count, size_t size) noexcept {
    return note(__libc_calloc(count, size), count * size);
}

void* realloc(void* old, size_t size) noexcept {
    void* result = __libc_realloc(old, size);
    // realloc(p, 0) frees p and may return null: that is no failure.
    return old && size == 0 ? result : note(result, size);
}

void* memalign(size_t alignment, size_t size) noexcept {
    return note(__libc_memalign(alignment, size), size);
}

void* aligned_alloc(size_t alignment, size_t size) noexcept {
    if (!validAlignment(alignment)) {
        errno = EINVAL;
        return nullptr;
    }
    return note(__libc_memalign(alignment, size), size);
}

int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
    if (!validAlignment(alignment) || alignment % sizeof(void*) != 0)
        return EINVAL;
    void* result = note(__libc_memalign(alignment, size), size);
    if (!result)
        return ENOMEM;
    *out = result;
    return 0;
}

} // extern "C"

namespace pxraster {

unsigned long failedAllocations() {
    // A count taken is final: a success after it retries nothing counted before.
    t_watch.retrying = false;
    return t_watch.failures;
}

} // namespace pxraster

#else

namespace pxraster {

unsigned long failedAllocations() {
    return 0;
}

} // namespace pxraster

#endif
