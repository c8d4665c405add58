#include "com/malloc.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "com/com_init.h"

namespace {

// Requests beyond this are refused outright rather than passed to the heap: no real block of
// this program comes near it, and a size read from a damaged or hostile message must not
// reach the system allocator.
constexpr SIZE_T kLargestBlock = SIZE_T{1} << 40;

// The process's task allocator. It lives as long as the process; the reference count only
// tells tests whether every reference handed out came back.
class CTaskAllocator final : public IMalloc {
  public:
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown || riid == IID_IMalloc) {
            AddRef();
            *ppvObject = static_cast<IMalloc*>(this);
            return S_OK;
        }
        *ppvObject = nullptr;
        return E_NOINTERFACE;
    }
    // The count starts at 1 for the process's own reference, so it never reaches 0.
    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        ULONG current = refs_.load(std::memory_order_relaxed);
        while (current > 1 &&
               !refs_.compare_exchange_weak(current, current - 1, std::memory_order_relaxed)) {
        }
        return current > 1 ? current - 1 : 1;
    }

    void* Alloc(SIZE_T cb) override {
        if (cb > kLargestBlock) {
            return nullptr;
        }
        void* p = std::malloc(cb == 0 ? 1 : cb);
        if (p == nullptr) {
            return nullptr;
        }
        const std::lock_guard lock(mutex_);
        try {
            blocks_.emplace(p, cb);
        } catch (...) {
            std::free(p);
            return nullptr;
        }
        bytes_ += cb;
        return p;
    }

    void* Realloc(void* pv, SIZE_T cb) override {
        if (pv == nullptr) {
            return Alloc(cb);
        }
        if (cb == 0) {
            Free(pv);
            return nullptr;
        }
        if (cb > kLargestBlock) {
            return nullptr;
        }
        const std::lock_guard lock(mutex_);
        const auto it = blocks_.find(pv);
        if (it == blocks_.end()) {
            return nullptr;
        }
        void* moved = std::realloc(pv, cb);
        if (moved == nullptr) {
            return nullptr;
        }
        bytes_ = bytes_ - it->second + cb;
        if (moved == pv) {
            it->second = cb;
        } else {
            // Re-keying the node allocates nothing, so the block cannot get lost here.
            auto node = blocks_.extract(it);
            node.key() = moved;
            node.mapped() = cb;
            blocks_.insert(std::move(node));
        }
        return moved;
    }

    void Free(void* pv) override {
        if (pv == nullptr) {
            return;
        }
        {
            const std::lock_guard lock(mutex_);
            const auto it = blocks_.find(pv);
            if (it == blocks_.end()) {
                // Not ours (or freed twice): handing it to the heap would corrupt it.
                return;
            }
            bytes_ -= it->second;
            blocks_.erase(it);
        }
        std::free(pv);
    }

    SIZE_T GetSize(void* pv) override {
        const std::lock_guard lock(mutex_);
        const auto it = blocks_.find(pv);
        return it == blocks_.end() ? static_cast<SIZE_T>(-1) : it->second;
    }

    int DidAlloc(void* pv) override {
        if (pv == nullptr) {
            return -1;
        }
        const std::lock_guard lock(mutex_);
        return blocks_.contains(pv) ? 1 : 0;
    }

    void HeapMinimize() override {}

    std::size_t LiveBlocks() const {
        const std::lock_guard lock(mutex_);
        return blocks_.size();
    }
    std::size_t LiveBytes() const {
        const std::lock_guard lock(mutex_);
        return bytes_;
    }
    ULONG OutstandingRefs() const { return refs_.load(std::memory_order_relaxed) - 1; }

  private:
    std::atomic<ULONG> refs_{1};
    mutable std::mutex mutex_;
    std::unordered_map<void*, SIZE_T> blocks_;
    std::size_t bytes_ = 0;
};

CTaskAllocator& TaskAllocator() {
    // Never destroyed: static destructors of other files may still free blocks at exit.
    union Holder {
        Holder() : allocator() {}
        ~Holder() {}
        CTaskAllocator allocator;
    };
    static Holder holder;
    return holder.allocator;
}

}  // namespace

HRESULT CoGetMalloc(DWORD dwMemContext, LPMALLOC* ppMalloc) {
    ComTestHooks& hooks = GetComTestHooks();
    hooks.coGetMallocCalls.fetch_add(1);
    if (ppMalloc == nullptr) {
        return E_INVALIDARG;
    }
    *ppMalloc = nullptr;
    if (const HRESULT injected = hooks.failCoGetMalloc.load(); FAILED(injected)) {
        return injected;
    }
    if (dwMemContext != MEMCTX_TASK) {
        return E_INVALIDARG;
    }
    CTaskAllocator& allocator = TaskAllocator();
    allocator.AddRef();
    *ppMalloc = &allocator;
    return S_OK;
}

LPVOID CoTaskMemAlloc(SIZE_T cb) {
    return TaskAllocator().Alloc(cb);
}
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    return TaskAllocator().Realloc(pv, cb);
}
void CoTaskMemFree(LPVOID pv) {
    TaskAllocator().Free(pv);
}

std::size_t CoTaskMemLiveBlocks() {
    return TaskAllocator().LiveBlocks();
}
std::size_t CoTaskMemLiveBytes() {
    return TaskAllocator().LiveBytes();
}
ULONG CoGetMallocOutstandingRefs() {
    return TaskAllocator().OutstandingRefs();
}
