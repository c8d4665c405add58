#pragma once
// The task allocator: the one heap on which COM hands memory between a server and its client.
// A block a callee allocates with CoTaskMemAlloc (or IMalloc::Alloc) is freed by the caller
// with CoTaskMemFree (or IMalloc::Free), whichever side of an interface it is on.

#include <cstddef>

#include "com/guid.h"
#include "com/hresult.h"
#include "com/types.h"
#include "com/unknown.h"

inline constexpr IID IID_IMalloc{
    0x00000002, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IMalloc : public IUnknown {
  public:
    static constexpr IID iid = IID_IMalloc;

    // A block of at least cb bytes (cb 0 gives a distinct block too); null when out of memory.
    virtual void* Alloc(SIZE_T cb) = 0;
    // Resizes a block of this allocator, keeping its contents up to the smaller size. A null pv
    // allocates; cb 0 frees pv and returns null. On failure the old block stays as it was.
    virtual void* Realloc(void* pv, SIZE_T cb) = 0;
    // Null is allowed. A pointer this allocator did not hand out is left alone.
    virtual void Free(void* pv) = 0;
    // The size the block was allocated with; (SIZE_T)-1 for a pointer not from this allocator.
    virtual SIZE_T GetSize(void* pv) = 0;
    // 1 for a live block of this allocator, 0 for any other pointer, -1 for null.
    virtual int DidAlloc(void* pv) = 0;
    virtual void HeapMinimize() = 0;

  protected:
    ~IMalloc() = default;
};
using LPMALLOC = IMalloc*;

inline constexpr DWORD MEMCTX_TASK = 1;

// The process-wide task allocator (one more reference on it); MEMCTX_TASK is the only context.
HRESULT CoGetMalloc(DWORD dwMemContext, LPMALLOC* ppMalloc);
LPVOID CoTaskMemAlloc(SIZE_T cb);
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void CoTaskMemFree(LPVOID pv);

// For tests: the blocks of the task allocator not yet freed, and the bytes they hold. A test
// compares them before and after the code under test to prove that everything handed out was
// freed.
std::size_t CoTaskMemLiveBlocks();
std::size_t CoTaskMemLiveBytes();
// For tests: the references handed out by CoGetMalloc and not yet released.
ULONG CoGetMallocOutstandingRefs();
