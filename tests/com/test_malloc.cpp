#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>

#include "com/com_init.h"
#include "com/malloc.h"

namespace {

TEST(TaskAllocator, CountsLiveBlocksAndBytes) {
    const std::size_t blocks = CoTaskMemLiveBlocks();
    const std::size_t bytes = CoTaskMemLiveBytes();
    void* a = CoTaskMemAlloc(100);
    void* b = CoTaskMemAlloc(0);  // a block of its own even when empty
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(CoTaskMemLiveBlocks(), blocks + 2);
    EXPECT_EQ(CoTaskMemLiveBytes(), bytes + 100);

    CoTaskMemFree(a);
    CoTaskMemFree(b);
    CoTaskMemFree(nullptr);
    EXPECT_EQ(CoTaskMemLiveBlocks(), blocks);
    EXPECT_EQ(CoTaskMemLiveBytes(), bytes);
}

TEST(TaskAllocator, ReallocKeepsContentsAndFollowsTheNullAndZeroRules) {
    const std::size_t blocks = CoTaskMemLiveBlocks();
    auto* p = static_cast<char*>(CoTaskMemRealloc(nullptr, 8));  // null allocates
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "abcdefgh", 8);
    p = static_cast<char*>(CoTaskMemRealloc(p, 1 << 20));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::memcmp(p, "abcdefgh", 8), 0);
    p = static_cast<char*>(CoTaskMemRealloc(p, 3));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::memcmp(p, "abc", 3), 0);
    EXPECT_EQ(CoTaskMemLiveBlocks(), blocks + 1);

    // A size the heap must never be asked for fails and leaves the block as it was.
    EXPECT_EQ(CoTaskMemRealloc(p, std::numeric_limits<SIZE_T>::max()), nullptr);
    EXPECT_EQ(std::memcmp(p, "abc", 3), 0);

    EXPECT_EQ(CoTaskMemRealloc(p, 0), nullptr);  // zero frees
    EXPECT_EQ(CoTaskMemLiveBlocks(), blocks);
    EXPECT_EQ(CoTaskMemAlloc(std::numeric_limits<SIZE_T>::max()), nullptr);
    EXPECT_EQ(CoTaskMemAlloc((SIZE_T{1} << 40) + 1), nullptr);
    EXPECT_EQ(CoTaskMemLiveBlocks(), blocks);
}

TEST(TaskAllocator, ImallocKnowsItsBlocksAndLeavesOthersAlone) {
    ComTestHooks& hooks = GetComTestHooks();
    hooks.Reset();
    const ULONG refs = CoGetMallocOutstandingRefs();
    IMalloc* m = nullptr;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &m), S_OK);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(CoGetMallocOutstandingRefs(), refs + 1);
    EXPECT_EQ(hooks.coGetMallocCalls.load(), 1);

    // The same process-wide object every time, and the functions share its heap.
    IMalloc* again = nullptr;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &again), S_OK);
    EXPECT_EQ(again, m);
    again->Release();

    void* p = m->Alloc(24);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(m->GetSize(p), 24u);
    EXPECT_EQ(m->DidAlloc(p), 1);
    int local = 0;
    EXPECT_EQ(m->DidAlloc(&local), 0);
    EXPECT_EQ(m->DidAlloc(nullptr), -1);
    EXPECT_EQ(m->GetSize(&local), static_cast<SIZE_T>(-1));
    EXPECT_EQ(m->Realloc(&local, 10), nullptr);

    const std::size_t blocks = CoTaskMemLiveBlocks();
    m->Free(&local);  // not ours: ignored rather than handed to the heap
    EXPECT_EQ(CoTaskMemLiveBlocks(), blocks);
    CoTaskMemFree(p);
    EXPECT_EQ(m->DidAlloc(p), 0);
    CoTaskMemFree(p);  // a second free of the same block is ignored too
    EXPECT_EQ(CoTaskMemLiveBlocks(), blocks - 1);
    m->HeapMinimize();

    ComPtr<IUnknown> unknown;
    ComPtr<IMalloc> self;
    ASSERT_EQ(ComPtr<IMalloc>(m).As(unknown), S_OK);
    ASSERT_EQ(unknown.As(self), S_OK);
    EXPECT_EQ(self.Get(), m);
    unknown.Reset();
    self.Reset();

    EXPECT_EQ(m->Release(), refs + 1);  // the process's own reference keeps it alive
    EXPECT_EQ(CoGetMallocOutstandingRefs(), refs);
}

TEST(TaskAllocator, CoGetMallocRefusesOtherContextsAndInjectedFailures) {
    ComTestHooks& hooks = GetComTestHooks();
    hooks.Reset();
    IMalloc* m = reinterpret_cast<IMalloc*>(std::uintptr_t{0x10});
    EXPECT_EQ(CoGetMalloc(2, &m), E_INVALIDARG);
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(CoGetMalloc(MEMCTX_TASK, nullptr), E_INVALIDARG);

    hooks.failCoGetMalloc = E_OUTOFMEMORY;
    EXPECT_EQ(CoGetMalloc(MEMCTX_TASK, &m), E_OUTOFMEMORY);
    EXPECT_EQ(m, nullptr);
    hooks.failCoGetMalloc = S_OK;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &m), S_OK);
    m->Release();
    EXPECT_EQ(hooks.coGetMallocCalls.load(), 4);
    hooks.Reset();
}

}  // namespace
