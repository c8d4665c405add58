#include "com/data_object.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>

#include "com/malloc.h"

namespace {

// Larger requests are refused before they reach the heap (see the task allocator).
constexpr SIZE_T kLargestBlock = SIZE_T{1} << 40;
constexpr UINT kKnownGlobalFlags = GMEM_MOVEABLE | GMEM_ZEROINIT;

struct GlobalBlock {
    std::unique_ptr<std::byte[]> data;
    SIZE_T size = 0;
    bool moveable = false;
    UINT locks = 0;
};

// Every live block by handle: a fixed block's handle is its data address, a moveable block's
// handle is the address of its GlobalBlock. Both are live heap addresses, so they never clash,
// and a handle that is not in the table is refused instead of being dereferenced.
class GlobalHeap {
  public:
    HGLOBAL Alloc(UINT flags, SIZE_T bytes) {
        if ((flags & ~kKnownGlobalFlags) != 0 || bytes > kLargestBlock) {
            return nullptr;
        }
        try {
            auto block = std::make_unique<GlobalBlock>();
            block->data = NewData(bytes, (flags & GMEM_ZEROINIT) != 0);
            block->size = bytes;
            block->moveable = (flags & GMEM_MOVEABLE) != 0;
            HGLOBAL handle = HandleOf(*block);
            const std::lock_guard lock(mutex_);
            blocks_.emplace(handle, std::move(block));
            return handle;
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }

    HGLOBAL ReAlloc(HGLOBAL handle, SIZE_T bytes, UINT flags) {
        if ((flags & ~kKnownGlobalFlags) != 0 || bytes > kLargestBlock) {
            return nullptr;
        }
        const std::lock_guard lock(mutex_);
        const auto it = blocks_.find(handle);
        if (it == blocks_.end()) {
            return nullptr;
        }
        GlobalBlock& block = *it->second;
        if (block.locks > 0) {
            // Moving the data would leave the holder of the lock with a dangling pointer.
            return nullptr;
        }
        try {
            std::unique_ptr<std::byte[]> data = NewData(bytes, false);
            const SIZE_T kept = std::min(bytes, block.size);
            if (kept > 0) {
                std::memcpy(data.get(), block.data.get(), kept);
            }
            if ((flags & GMEM_ZEROINIT) != 0 && bytes > kept) {
                std::memset(data.get() + kept, 0, bytes - kept);
            }
            if (block.moveable) {
                block.data = std::move(data);
                block.size = bytes;
                return handle;
            }
            // A fixed block's handle is its address, so it changes with the data.
            auto moved = blocks_.extract(it);
            moved.mapped()->data = std::move(data);
            moved.mapped()->size = bytes;
            moved.key() = moved.mapped()->data.get();
            HGLOBAL newHandle = moved.key();
            blocks_.insert(std::move(moved));
            return newHandle;
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }

    LPVOID Lock(HGLOBAL handle) {
        const std::lock_guard lock(mutex_);
        const auto it = blocks_.find(handle);
        if (it == blocks_.end()) {
            return nullptr;
        }
        GlobalBlock& block = *it->second;
        if (block.moveable) {
            ++block.locks;
        }
        return block.data.get();
    }

    BOOL Unlock(HGLOBAL handle) {
        const std::lock_guard lock(mutex_);
        const auto it = blocks_.find(handle);
        if (it == blocks_.end() || it->second->locks == 0) {
            return FALSE;
        }
        return --it->second->locks > 0 ? TRUE : FALSE;
    }

    SIZE_T Size(HGLOBAL handle) const {
        const std::lock_guard lock(mutex_);
        const auto it = blocks_.find(handle);
        return it == blocks_.end() ? 0 : it->second->size;
    }

    HGLOBAL Free(HGLOBAL handle) {
        if (handle == nullptr) {
            return nullptr;
        }
        std::unique_ptr<GlobalBlock> freed;  // destroyed after the lock is gone
        const std::lock_guard lock(mutex_);
        const auto it = blocks_.find(handle);
        if (it == blocks_.end()) {
            return handle;
        }
        freed = std::move(it->second);
        blocks_.erase(it);
        return nullptr;
    }

    std::size_t LiveBlocks() const {
        const std::lock_guard lock(mutex_);
        return blocks_.size();
    }

  private:
    static std::unique_ptr<std::byte[]> NewData(SIZE_T bytes, bool zero) {
        // At least one byte, so that every block has an address of its own.
        const SIZE_T n = bytes == 0 ? 1 : bytes;
        return zero ? std::make_unique<std::byte[]>(n)
                    : std::make_unique_for_overwrite<std::byte[]>(n);
    }
    static HGLOBAL HandleOf(GlobalBlock& block) {
        return block.moveable ? static_cast<HGLOBAL>(&block)
                              : static_cast<HGLOBAL>(block.data.get());
    }

    mutable std::mutex mutex_;
    std::unordered_map<HGLOBAL, std::unique_ptr<GlobalBlock>> blocks_;
};

GlobalHeap& Heap() {
    // Never destroyed: static destructors of other files may still free blocks at exit.
    union Holder {
        Holder() : heap() {}
        ~Holder() {}
        GlobalHeap heap;
    };
    static Holder holder;
    return holder.heap;
}

constexpr std::size_t kTargetDeviceHeader = offsetof(DVTARGETDEVICE, tdData);

HRESULT CopyFormat(FORMATETC* to, const StoredFormatEtc& from) {
    *to = from.format;
    to->ptd = nullptr;
    if (!from.targetDevice.empty()) {
        void* td = CoTaskMemAlloc(from.targetDevice.size());
        if (td == nullptr) {
            return E_OUTOFMEMORY;
        }
        std::memcpy(td, from.targetDevice.data(), from.targetDevice.size());
        to->ptd = static_cast<DVTARGETDEVICE*>(td);
    }
    return S_OK;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
    return Heap().Alloc(uFlags, dwBytes);
}
HGLOBAL GlobalReAlloc(HGLOBAL hMem, SIZE_T dwBytes, UINT uFlags) {
    return Heap().ReAlloc(hMem, dwBytes, uFlags);
}
LPVOID GlobalLock(HGLOBAL hMem) {
    return Heap().Lock(hMem);
}
BOOL GlobalUnlock(HGLOBAL hMem) {
    return Heap().Unlock(hMem);
}
SIZE_T GlobalSize(HGLOBAL hMem) {
    return Heap().Size(hMem);
}
HGLOBAL GlobalFree(HGLOBAL hMem) {
    return Heap().Free(hMem);
}
std::size_t GlobalLiveBlocks() {
    return Heap().LiveBlocks();
}

void ReleaseStgMedium(STGMEDIUM* pmedium) {
    if (pmedium == nullptr) {
        return;
    }
    if (pmedium->pUnkForRelease != nullptr) {
        // The data belongs to that object; letting go of it is all the receiver does.
        pmedium->pUnkForRelease->Release();
    } else if (pmedium->tymed == TYMED_HGLOBAL) {
        GlobalFree(pmedium->hGlobal);
    }
    pmedium->tymed = TYMED_NULL;
    pmedium->hGlobal = nullptr;
    pmedium->pUnkForRelease = nullptr;
}

StoredFormatEtc::StoredFormatEtc(const FORMATETC& f) : format(f) {
    format.ptd = nullptr;
    if (f.ptd != nullptr && f.ptd->tdSize >= kTargetDeviceHeader) {
        const auto* bytes = reinterpret_cast<const BYTE*>(f.ptd);
        targetDevice.assign(bytes, bytes + f.ptd->tdSize);
    }
}

HRESULT EnumCopyFormatEtc::Copy(FORMATETC* to, const StoredFormatEtc& from) {
    return CopyFormat(to, from);
}

void EnumCopyFormatEtc::Destroy(FORMATETC* to) {
    CoTaskMemFree(to->ptd);
    to->ptd = nullptr;
}

HRESULT EnumCopyStatData::Copy(STATDATA* to, const StoredStatData& from) {
    if (const HRESULT hr = CopyFormat(&to->formatetc, from.format); FAILED(hr)) {
        return hr;
    }
    to->advf = from.advf;
    to->dwConnection = from.connection;
    return from.sink.CopyTo(&to->pAdvSink);
}

void EnumCopyStatData::Destroy(STATDATA* to) {
    EnumCopyFormatEtc::Destroy(&to->formatetc);
    if (to->pAdvSink != nullptr) {
        to->pAdvSink->Release();
        to->pAdvSink = nullptr;
    }
}

HRESULT CreateEnumFORMATETC(const std::vector<FORMATETC>& formats, IEnumFORMATETC** ppenum) {
    if (ppenum == nullptr) {
        return E_POINTER;
    }
    *ppenum = nullptr;
    try {
        std::vector<StoredFormatEtc> items;
        items.reserve(formats.size());
        for (const FORMATETC& f : formats) {
            items.emplace_back(f);
        }
        *ppenum = MakeComObject<CEnumFORMATETC>(std::move(items)).Detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CDataAdviseHolder::Advise(const FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                                  DWORD* pdwConnection) {
    if (pdwConnection == nullptr || pAdvSink == nullptr) {
        return E_POINTER;
    }
    *pdwConnection = 0;
    if (pformatetc == nullptr) {
        return E_INVALIDARG;
    }
    try {
        StoredStatData data{StoredFormatEtc(*pformatetc), advf, ComPtr<IAdviseSink>(pAdvSink), 0};
        const std::lock_guard lock(mutex_);
        while (next_ == 0 || connections_.contains(next_)) {
            ++next_;
        }
        data.connection = next_++;
        const DWORD connection = data.connection;
        connections_.emplace(connection, std::move(data));
        *pdwConnection = connection;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CDataAdviseHolder::Unadvise(DWORD dwConnection) {
    StoredStatData released;  // its sink is released after the lock is gone
    const std::lock_guard lock(mutex_);
    const auto it = connections_.find(dwConnection);
    if (it == connections_.end()) {
        return OLE_E_NOCONNECTION;
    }
    released = std::move(it->second);
    connections_.erase(it);
    return S_OK;
}

HRESULT CDataAdviseHolder::EnumAdvise(IEnumSTATDATA** ppenumAdvise) const {
    if (ppenumAdvise == nullptr) {
        return E_POINTER;
    }
    *ppenumAdvise = nullptr;
    try {
        *ppenumAdvise = MakeComObject<CEnumSTATDATA>(Connections()).Detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

std::vector<StoredStatData> CDataAdviseHolder::Connections() const {
    std::vector<StoredStatData> out;
    const std::lock_guard lock(mutex_);
    out.reserve(connections_.size());
    for (const auto& entry : connections_) {
        out.push_back(entry.second);
    }
    return out;
}

void CDataAdviseHolder::UnadviseAll() {
    std::map<DWORD, StoredStatData> released;
    const std::lock_guard lock(mutex_);
    released.swap(connections_);
}
