// Whether this build runs under the address or thread sanitizer, whose
// shadow memory cannot start under `ulimit -v` and makes peak-memory
// bounds meaningless. GCC says so by macros, clang by __has_feature.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TAMLO_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TAMLO_UNDER_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define TAMLO_UNDER_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TAMLO_UNDER_THREAD_SANITIZER 1
#endif
#endif
