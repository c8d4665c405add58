// Feeds arbitrary blocks to the decoder of the OPC DA 1.0 data streams. The first byte picks
// the format, the rest is the block. The decoder must never read outside the block, never
// crash, leak or allocate far beyond the block's size, and hand back consistent arrays.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <sanitizer/allocator_interface.h>

#include "opc/da10_stream.h"

namespace {

std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_peak{0};
std::atomic<bool> g_counting{false};

void OnMalloc(const volatile void*, std::size_t size) {
    if (!g_counting.load(std::memory_order_relaxed)) {
        return;
    }
    const std::size_t live = g_live.fetch_add(size, std::memory_order_relaxed) + size;
    std::size_t peak = g_peak.load(std::memory_order_relaxed);
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
    }
}

void OnFree(const volatile void* p) {
    if (!g_counting.load(std::memory_order_relaxed) || p == nullptr) {
        return;
    }
    const std::size_t size = __sanitizer_get_allocated_size(const_cast<const void*>(p));
    std::size_t live = g_live.load(std::memory_order_relaxed);
    while (!g_live.compare_exchange_weak(live, live >= size ? live - size : 0)) {
    }
}

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "inconsistent decoding: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const Da10Format format = static_cast<Da10Format>(data[0] % 3);
    // The block in a buffer of its own exact size, so any read past it is caught.
    const std::vector<std::uint8_t> block(data + 1, data + size);
    g_live = 0;
    g_peak = 0;
    g_counting = true;
    {
        const Da10Stream stream = DecodeDa10Stream(block.data(), block.size(), format);
        const std::size_t n = stream.clientHandles.size();
        if (format == Da10Format::writeComplete) {
            Check(stream.errors.size() == n && stream.values.empty(), "write-complete arrays");
        } else {
            Check(stream.values.size() == n && stream.qualities.size() == n, "data arrays");
            Check(stream.timestamps.size() == (format == Da10Format::dataWithTime ? n : 0),
                  "timestamps");
            for (const VARIANT& value : stream.values) {
                Check(value.vt == VT_BSTR || (value.vt & (VT_ARRAY | VT_BYREF)) == 0,
                      "a pointer type came out");
            }
        }
        Check(stream.accepted || n == 0, "items of an ignored block");
    }
    g_counting = false;
    // Each header yields one VARIANT and a few words; strings are copies of the block's bytes.
    const std::size_t limit = 16 * size + (64u << 10);
    if (g_peak > limit) {
        std::fprintf(stderr, "decoding %zu bytes allocated %zu bytes at peak\n", size,
                     g_peak.load());
        std::abort();
    }
    return 0;
}
