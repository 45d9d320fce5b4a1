// PX_SANITIZED: set in builds with AddressSanitizer or ThreadSanitizer. They reserve terabytes
// of address space and supply their own malloc, so memory limits and the companion's allocation
// watch stay off there.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PX_SANITIZED 1
#endif
#endif
