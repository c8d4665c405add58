// Feeds arbitrary bytes to the reader of column sets and server records: the reader must fail
// cleanly with an archive error, never crash, leak or allocate far beyond the input's size.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include <sanitizer/allocator_interface.h>

#include "model/archive.h"
#include "model/columns.h"
#include "model/model_classes.h"
#include "model/server_record.h"

namespace {

// Bytes allocated and not yet freed while one input is read, and the most seen for it, kept by
// the sanitizer allocator's hooks so that every way of allocating is counted.
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
    // Blocks allocated before counting began may be freed while it runs.
    while (!g_live.compare_exchange_weak(live, live >= size ? live - size : 0)) {
    }
}

const ClassRegistry& Classes() {
    static const ClassRegistry classes = ModelClasses();
    return classes;
}

void ReadDocumentBody(std::span<const std::uint8_t> bytes) {
    CArchive ar(bytes, Classes());
    clColumns columns;
    columns.Serialize(ar);
    std::vector<std::unique_ptr<clBaseOPCServer>> servers;
    const std::uint32_t count = ar.ReadCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        servers.push_back(ar.ReadNew<clBaseOPCServer>());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
    Classes();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    g_live = 0;
    g_peak = 0;
    g_counting = true;
    try {
        ReadDocumentBody(std::span<const std::uint8_t>(data, size));
    } catch (const CArchiveException&) {
        // A damaged or cut input: the expected way to fail.
    }
    g_counting = false;
    // Every record costs a few hundred bytes of memory for a few dozen bytes of input; a reader
    // that believed a claimed length or count would go far beyond this.
    const std::size_t limit = 64 * size + (64u << 10);
    if (g_peak > limit) {
        std::fprintf(stderr, "reading %zu bytes allocated %zu bytes at peak\n", size,
                     g_peak.load());
        std::abort();
    }
    return 0;
}
