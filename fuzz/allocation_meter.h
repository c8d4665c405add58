#pragma once
// Measures the most memory one fuzz input holds at once, through the sanitizer allocator's hooks,
// so that every way of allocating is counted. A reader that believed a claimed length or count
// would go far beyond a small multiple of its input.

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include <sanitizer/allocator_interface.h>

namespace allocation_meter {

inline std::atomic<std::size_t> live{0};
inline std::atomic<std::size_t> peak{0};
inline std::atomic<bool> counting{false};

inline void OnMalloc(const volatile void*, std::size_t size) {
    if (!counting.load(std::memory_order_relaxed)) {
        return;
    }
    const std::size_t now = live.fetch_add(size, std::memory_order_relaxed) + size;
    std::size_t seen = peak.load(std::memory_order_relaxed);
    while (now > seen && !peak.compare_exchange_weak(seen, now)) {
    }
}

inline void OnFree(const volatile void* p) {
    if (!counting.load(std::memory_order_relaxed) || p == nullptr) {
        return;
    }
    const std::size_t size = __sanitizer_get_allocated_size(const_cast<const void*>(p));
    std::size_t now = live.load(std::memory_order_relaxed);
    // Blocks allocated before counting began may be freed while it runs.
    while (!live.compare_exchange_weak(now, now >= size ? now - size : 0)) {
    }
}

// Once, from LLVMFuzzerInitialize.
inline void Install() {
    __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
}

inline void Start() {
    live = 0;
    peak = 0;
    counting = true;
}

// Ends the measurement and aborts when the peak passed the limit.
inline void StopAndCheck(std::size_t inputSize, std::size_t limit) {
    counting = false;
    if (peak > limit) {
        std::fprintf(stderr, "an input of %zu bytes held %zu bytes at once (limit %zu)\n",
                     inputSize, peak.load(), limit);
        std::abort();
    }
}

}  // namespace allocation_meter
