#pragma once
// The bounded history of one item: samples newest first, guarded by the buffer's own lock.

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "model/datetime.h"
#include "model/object.h"

class clHistorical : public CObject {
  public:
    static const CRuntimeClass runtimeClass;
    const CRuntimeClass* GetRuntimeClass() const override { return &runtimeClass; }
    void Serialize(CArchive& ar) override;

    // "value", "quality", "timestamp", "remark" (case ignored); anything else gives "".
    std::string GetPropertyText(std::string_view key) const;
    // Only "remark" (case ignored) is settable.
    void SetPropertyText(std::string_view key, std::string_view text);

    std::int32_t number = 0;
    clDateTime timestamp{2000, 1, 1, 0, 0, 0, 0};
    std::uint32_t quality = 0;
    double value = 0.0;
    std::string remark;
    bool numeric = true;
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
    // call into the user interface or back into this buffer.
    template <class F>
    void ForEach(F&& f) const {
        std::lock_guard guard(lock_);
        for (const auto& sample : samples_) {
            f(*sample);
        }
    }
    // Sets the remark of the sample with that number; false when it is gone.
    bool SetRemark(std::int32_t number, std::string_view remark);

    // Switches and capacity: written only by the user-interface thread (tag dialog, file read).
    bool enabled = false;
    std::int32_t capacity = 128;
    bool overwrite = false;

  private:
    // These four run under the lock.
    void WrapNumber();
    bool IsFull() const;
    void PushFront(std::unique_ptr<clHistorical> sample);
    void PopBack();

    mutable std::mutex lock_;
    std::int32_t nextNumber_ = 1;
    std::list<std::unique_ptr<clHistorical>> samples_;
    std::atomic<std::size_t> count_ = 0;  // samples_.size(), readable without the lock
};
