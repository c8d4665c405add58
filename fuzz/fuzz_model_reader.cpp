// Feeds arbitrary bytes to the reader of column sets and server records: the reader must fail
// cleanly with an archive error, never crash, leak or allocate far beyond the input's size.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "model/archive.h"
#include "model/columns.h"
#include "model/model_classes.h"
#include "model/server_record.h"

namespace {

// Bytes allocated and not yet freed while one input is read, and the most seen for it.
std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_peak{0};
std::atomic<bool> g_counting{false};

void* CountedAlloc(std::size_t size) {
    // A header in front of each block remembers its size for the matching delete.
    void* raw = std::malloc(size + 16);
    if (raw == nullptr) {
        throw std::bad_alloc();
    }
    *static_cast<std::size_t*>(raw) = size;
    if (g_counting.load(std::memory_order_relaxed)) {
        const std::size_t live = g_live.fetch_add(size, std::memory_order_relaxed) + size;
        std::size_t peak = g_peak.load(std::memory_order_relaxed);
        while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
        }
    }
    return static_cast<char*>(raw) + 16;
}

void CountedFree(void* p) {
    if (p == nullptr) {
        return;
    }
    void* raw = static_cast<char*>(p) - 16;
    const std::size_t size = *static_cast<std::size_t*>(raw);
    if (g_counting.load(std::memory_order_relaxed)) {
        g_live.fetch_sub(size, std::memory_order_relaxed);
    }
    std::free(raw);
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

void* operator new(std::size_t size) { return CountedAlloc(size); }
void* operator new[](std::size_t size) { return CountedAlloc(size); }
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedFree(p); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Classes();
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
