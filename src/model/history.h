#pragma once
// The bounded history of one item: samples newest first, guarded by the buffer's own lock.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "model/datetime.h"
#include "model/object.h"

class clHistorical final : public CObject {
  public:
    // User-provided, so that a new slot of the history buffer gets the defaults below without
    // being zeroed first.
    clHistorical() noexcept {}

    static const CRuntimeClass runtimeClass;
    const CRuntimeClass* GetRuntimeClass() const override { return &runtimeClass; }
    void Serialize(CArchive& ar) override;

    // "value", "quality", "timestamp", "remark" (case ignored); anything else gives "".
    std::string GetPropertyText(std::string_view key) const;
    // Only "remark" (case ignored) is settable.
    void SetPropertyText(std::string_view key, std::string_view text);

    // Ordered so that nothing is padded: a buffer holds its samples by value, and a smaller
    // sample is less memory to walk when the configuration is written.
    std::int32_t number = 0;
    std::uint32_t quality = 0;
    clDateTime timestamp{2000, 1, 1, 0, 0, 0, 0};
    bool numeric = true;
    double value = 0.0;
    std::string remark;
};

class clHistoricals : public CObject {
  public:
    static constexpr std::int32_t kLastNumber = 0x1FFFFFFF;

    static const CRuntimeClass runtimeClass;
    const CRuntimeClass* GetRuntimeClass() const override { return &runtimeClass; }
    void Serialize(CArchive& ar) override;

    // Offers a sample; false when history is off (nothing is built then).
    bool AddSample(const clDateTime& timestamp, double value, std::uint32_t quality, bool numeric);
    // Stores the sample at the head, or drops it when full without overwrite.
    void Insert(std::unique_ptr<clHistorical> sample);
    // Drops the oldest samples down to the capacity.
    void Resize();
    // Drops every sample; the numbering continues.
    void RemoveAll();

    // The sample count; needs no lock.
    std::size_t GetCount() const;
    std::int32_t GetNextNumber() const;
    // Calls f(const clHistorical&) for each sample, newest first, under the lock. f must not
    // call into the user interface or back into this buffer. The reference is valid only
    // during the call.
    template <class F>
    void ForEach(F&& f) const {
        std::lock_guard guard(lock_);
        for (std::size_t i = 0; i < samples_.Size(); ++i) {
            f(samples_[i]);
        }
    }
    // Sets the remark of the sample with that number; false when it is gone.
    bool SetRemark(std::int32_t number, std::string_view remark);
    // Asks the processor to start fetching the newest samples, for a walk that follows soon (an
    // item writing its own fields before its history). A hint only: it needs no lock, and a
    // buffer changing meanwhile costs nothing but the wasted fetch.
    void Prefetch() const;

    // Switches and capacity: written only by the user-interface thread (tag dialog, file read).
    bool enabled = false;
    std::int32_t capacity = 128;
    bool overwrite = false;

  private:
    // The samples by value, newest first, in a circular array: both ends are reached in
    // constant time, a full buffer that overwrites turns its oldest slot into the newest
    // without moving or allocating anything, and a walk reads consecutive memory.
    class Ring {
      public:
        std::size_t Size() const { return size_; }
        // The samples lie in at most two runs of consecutive slots: from the newest on to the
        // end of the storage, and the rest from its start.
        const clHistorical* Storage() const { return slots_.data(); }
        const clHistorical* Newest() const { return slots_.data() + head_; }
        std::size_t FirstRun() const { return std::min(size_, slots_.size() - head_); }
        // i = 0 is the newest sample.
        clHistorical& operator[](std::size_t i) { return slots_[Physical(i)]; }
        const clHistorical& operator[](std::size_t i) const { return slots_[Physical(i)]; }

        // A new newest slot, holding whatever an earlier sample left there: the caller sets
        // every field. Grows the storage when it is full, to no more than `limit` slots where
        // that is enough.
        clHistorical& PushFront(std::size_t limit);
        // Drops the oldest sample and returns a new newest slot in its stead, without moving
        // anything, for the caller to overwrite.
        clHistorical& RotateBackToFront();
        // Building a ring from the newest sample to the oldest, as a file is read: room for
        // `count` samples at once, then a new oldest slot, default constructed, after the ones
        // held. Only for a ring that nothing else has changed.
        void Reserve(std::size_t count);
        clHistorical& Append();
        void PopBack();  // drops the oldest sample
        // Gives back storage beyond `count` slots (count not below the size).
        void ShrinkTo(std::size_t count);
        void Clear();  // drops every sample and the storage
        void Swap(Ring& other) noexcept;

      private:
        std::size_t Physical(std::size_t i) const {
            const std::size_t at = head_ + i;
            return at < slots_.size() ? at : at - slots_.size();
        }
        // Moves the samples, newest first, into new storage of `count` slots (count not below
        // the size), at its end.
        void Relocate(std::size_t count);

        std::vector<clHistorical> slots_;  // every slot holds an object; size_ of them are used
        std::size_t head_ = 0;             // the slot of the newest sample
        std::size_t size_ = 0;
    };

    // These run under the lock.
    void WrapNumber();
    bool IsFull() const;
    void Counted();  // publishes the sample count after a change

    mutable std::mutex lock_;
    std::int32_t nextNumber_ = 1;
    Ring samples_;
    std::atomic<std::size_t> count_ = 0;  // samples_.Size(), readable without the lock
    // Where Prefetch finds the samples: Ring::Newest(), Ring::FirstRun() and Ring::Storage().
    std::atomic<const clHistorical*> newest_ = nullptr;
    std::atomic<std::size_t> firstRun_ = 0;
    std::atomic<const clHistorical*> storage_ = nullptr;
};
