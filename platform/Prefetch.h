#pragma once
// A cache prefetch hint that the compiler keeps.

namespace platform {

/// Starts loading the cache line at P; never faults, even for an address that is not mapped.
/// GCC 12 drops __builtin_prefetch in some inlined member functions (a prefetch under a condition
/// on a member, for one), so on x86 the instruction is written out.
inline void PrefetchRead(const void *P) {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("prefetcht0 (%0)" : : "r"(P));
#else
    __builtin_prefetch(P);
#endif
}

} // namespace platform
