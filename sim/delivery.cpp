#include "sim/delivery.h"

#include <cstring>
#include <utility>

#include "com/clipboard_format.h"
#include "opcda/quality.h"
#include "opcda/streams.h"
#include "sim/owned_variant.h"
#include "sim/stream_builder.h"

ItemBatch& ItemBatch::operator=(ItemBatch&& other) noexcept {
    if (this != &other) {
        Clear();
        count_ = std::exchange(other.count_, 0);
        anyNotGood_ = std::exchange(other.anyNotGood_, false);
        anyError_ = std::exchange(other.anyError_, false);
        handles_ = std::move(other.handles_);
        values_ = std::move(other.values_);
        qualities_ = std::move(other.qualities_);
        times_ = std::move(other.times_);
        errors_ = std::move(other.errors_);
        other.handles_.clear();
        other.values_.clear();
        other.qualities_.clear();
        other.times_.clear();
        other.errors_.clear();
    }
    return *this;
}

void ItemBatch::Reserve(std::size_t count) {
    if (count <= handles_.size()) {
        return;
    }
    handles_.resize(count);
    values_.resize(count);  // zeroed: VT_EMPTY
    qualities_.resize(count);
    times_.resize(count);
    errors_.resize(count);
}

void ItemBatch::Clear() {
    for (std::size_t i = 0; i < count_; ++i) {
        ClearValue(values_[i]);
    }
    count_ = 0;
    anyNotGood_ = false;
    anyError_ = false;
}

ItemBatch BatchPool::TakeBatch() {
    const std::lock_guard lock(mutex_);
    if (batches_.empty()) {
        return ItemBatch{};
    }
    ItemBatch batch = std::move(batches_.back());
    batches_.pop_back();
    return batch;
}

void BatchPool::GiveBatch(ItemBatch batch) {
    batch.Clear();
    const std::lock_guard lock(mutex_);
    // A group has one update under way at a time, and a request or two beside it.
    if (batches_.size() < 4) {
        batches_.push_back(std::move(batch));
    }
}

std::vector<BYTE> BatchPool::TakeBuffer() {
    const std::lock_guard lock(mutex_);
    if (buffers_.empty()) {
        return {};
    }
    std::vector<BYTE> buffer = std::move(buffers_.back());
    buffers_.pop_back();
    return buffer;
}

void BatchPool::GiveBuffer(std::vector<BYTE> buffer) {
    const std::lock_guard lock(mutex_);
    if (buffers_.size() < 2) {
        buffers_.push_back(std::move(buffer));
    }
}

const StreamFormats& OpcStreamFormats() {
    static const StreamFormats formats{
        static_cast<CLIPFORMAT>(RegisterClipboardFormatA(OPCSTMFORMATDATA)),
        static_cast<CLIPFORMAT>(RegisterClipboardFormatA(OPCSTMFORMATDATATIME)),
        static_cast<CLIPFORMAT>(RegisterClipboardFormatA(OPCSTMFORMATWRITECOMPLETE))};
    return formats;
}

namespace {

// Hands one block to a sink in a global memory block; the medium stays ours and is freed after
// the call.
void SendStream(const StreamTarget& target, const std::vector<BYTE>& block) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, block.size());
    if (memory == nullptr) {
        return;
    }
    void* const bytes = GlobalLock(memory);
    if (bytes == nullptr) {
        GlobalFree(memory);
        return;
    }
    std::memcpy(bytes, block.data(), block.size());
    GlobalUnlock(memory);

    FORMATETC format{};
    format.cfFormat = target.format;
    format.ptd = nullptr;
    format.dwAspect = DVASPECT_CONTENT;
    format.lindex = -1;
    format.tymed = TYMED_HGLOBAL;
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = memory;
    medium.pUnkForRelease = nullptr;
    target.sink->OnDataChange(&format, &medium);
    ReleaseStgMedium(&medium);
}

void SendStreams(Delivery& d) {
    if (d.streams.empty()) {
        return;
    }
    const StreamFormats& formats = OpcStreamFormats();
    std::vector<BYTE> block = d.pool ? d.pool->TakeBuffer() : std::vector<BYTE>{};
    ItemBatch& b = d.batch;
    for (const StreamTarget& target : d.streams) {
        HRESULT hr = E_FAIL;
        if (d.kind == Delivery::Kind::WriteComplete) {
            if (target.format != formats.writeComplete) {
                continue;
            }
            hr = BuildWriteCompleteStream(block, d.clientGroup, d.transactionId, S_OK, b.Count(),
                                          b.Handles(), b.Errors());
        } else if (target.format == formats.dataTime || target.format == formats.data) {
            const StreamTimestamps layout = target.format == formats.dataTime
                                                ? StreamTimestamps::With
                                                : StreamTimestamps::Without;
            hr = BuildDataStream(block, layout, d.clientGroup, d.transactionId, S_OK, b.Count(),
                                 b.Handles(), b.Values(), b.Qualities(), b.Times());
        }
        if (SUCCEEDED(hr)) {
            SendStream(target, block);
        }
    }
    if (d.pool) {
        d.pool->GiveBuffer(std::move(block));
    }
}

}  // namespace

void Deliver(std::vector<Delivery>& deliveries) {
    for (Delivery& d : deliveries) {
        ItemBatch& b = d.batch;
        for (const ComPtr<IOPCDataCallback>& callback : d.callbacks) {
            switch (d.kind) {
                case Delivery::Kind::DataChange:
                    callback->OnDataChange(d.transactionId, d.clientGroup, b.MasterQuality(),
                                           b.MasterError(), b.Count(), b.Handles(), b.Values(),
                                           b.Qualities(), b.Times(), b.Errors());
                    break;
                case Delivery::Kind::ReadComplete:
                    callback->OnReadComplete(d.transactionId, d.clientGroup, b.MasterQuality(),
                                             b.MasterError(), b.Count(), b.Handles(), b.Values(),
                                             b.Qualities(), b.Times(), b.Errors());
                    break;
                case Delivery::Kind::WriteComplete:
                    callback->OnWriteComplete(d.transactionId, d.clientGroup, b.MasterError(),
                                              b.Count(), b.Handles(), b.Errors());
                    break;
                case Delivery::Kind::CancelComplete:
                    callback->OnCancelComplete(d.transactionId, d.clientGroup);
                    break;
            }
        }
        SendStreams(d);
        if (d.pool) {
            d.pool->GiveBatch(std::move(d.batch));
        }
        d.callbacks.clear();
        d.streams.clear();
    }
}
