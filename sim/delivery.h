#pragma once
// What a group sends its client: the arrays of one callback (a batch), the calls that carry
// it (deliveries), and the pool through which a group reuses its batches, so that an update
// of many items allocates nothing beyond the values themselves once the arrays have grown.
//
// Deliveries are built under the simulator's lock and made after it is released.

#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "com/data_object.h"
#include "com/unknown.h"
#include "opcda/callback.h"
#include "opcda/types.h"

class ItemBatch {
  public:
    ItemBatch() = default;
    ItemBatch(const ItemBatch&) = delete;
    ItemBatch& operator=(const ItemBatch&) = delete;
    ItemBatch(ItemBatch&& other) noexcept { *this = std::move(other); }
    ItemBatch& operator=(ItemBatch&& other) noexcept;
    ~ItemBatch() { Clear(); }

    // Makes room for count entries, so that appending them allocates nothing.
    void Reserve(std::size_t count);
    // The value of the entry Commit would append, for the caller to fill in place. Until the
    // entry is committed the caller owns what it puts there and must clear it itself.
    VARIANT* NextValue() {
        if (count_ == handles_.size()) {
            Reserve(count_ < 16 ? 16 : count_ * 2);
        }
        return &values_[count_];
    }
    // Appends the entry whose value NextValue handed out.
    void Commit(OPCHANDLE clientHandle, WORD quality, FILETIME time, HRESULT error) {
        handles_[count_] = clientHandle;
        qualities_[count_] = quality;
        times_[count_] = time;
        errors_[count_] = error;
        anyNotGood_ = anyNotGood_ || (quality & 0xC0) != 0xC0;
        anyError_ = anyError_ || error != S_OK;
        ++count_;
    }
    // Appends an entry, taking the value over (value is left VT_EMPTY).
    void Append(OPCHANDLE clientHandle, VARIANT& value, WORD quality, FILETIME time,
                HRESULT error) {
        *NextValue() = value;
        value.vt = VT_EMPTY;
        Commit(clientHandle, quality, time, error);
    }
    // Frees the values and empties the batch, keeping its arrays.
    void Clear();

    DWORD Count() const { return static_cast<DWORD>(count_); }
    OPCHANDLE* Handles() { return handles_.data(); }
    VARIANT* Values() { return values_.data(); }
    WORD* Qualities() { return qualities_.data(); }
    FILETIME* Times() { return times_.data(); }
    HRESULT* Errors() { return errors_.data(); }
    // S_FALSE when any quality is not good / any error is not S_OK.
    HRESULT MasterQuality() const { return anyNotGood_ ? S_FALSE : S_OK; }
    HRESULT MasterError() const { return anyError_ ? S_FALSE : S_OK; }

  private:
    // The arrays only grow; entries from count_ on are unused, their values VT_EMPTY.
    std::size_t count_ = 0;
    bool anyNotGood_ = false;
    bool anyError_ = false;
    std::vector<OPCHANDLE> handles_;
    std::vector<VARIANT> values_;
    std::vector<WORD> qualities_;
    std::vector<FILETIME> times_;
    std::vector<HRESULT> errors_;
};

// Spare batches and stream buffers of one group. It outlives the group while a delivery of
// the group is under way.
class BatchPool {
  public:
    ItemBatch TakeBatch();
    void GiveBatch(ItemBatch batch);
    std::vector<BYTE> TakeBuffer();
    void GiveBuffer(std::vector<BYTE> buffer);

  private:
    std::mutex mutex_;
    std::vector<ItemBatch> batches_;
    std::vector<std::vector<BYTE>> buffers_;
};

struct StreamTarget {
    ComPtr<IAdviseSink> sink;
    CLIPFORMAT format = 0;
};

struct Delivery {
    enum class Kind {
        DataChange,      // OnDataChange and data streams
        ReadComplete,    // OnReadComplete and data streams
        WriteComplete,   // OnWriteComplete and write-complete streams
        CancelComplete,  // OnCancelComplete
    };
    Kind kind = Kind::DataChange;
    DWORD transactionId = 0;
    OPCHANDLE clientGroup = 0;
    ItemBatch batch;
    std::vector<ComPtr<IOPCDataCallback>> callbacks;
    std::vector<StreamTarget> streams;
    std::shared_ptr<BatchPool> pool;
};

// The registered numbers of the three stream formats.
struct StreamFormats {
    CLIPFORMAT data = 0;
    CLIPFORMAT dataTime = 0;
    CLIPFORMAT writeComplete = 0;
};
const StreamFormats& OpcStreamFormats();

// Makes the calls of every delivery in order, then gives the batches back to their pools.
// Called without the simulator's lock.
void Deliver(std::vector<Delivery>& deliveries);
