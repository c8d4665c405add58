#include "model/history.h"

#include <iterator>

#include "model/archive.h"
#include "model/text_compare.h"
#include "model/values.h"

namespace {

template <class T>
std::unique_ptr<CObject> CreateEmpty() {
    return std::make_unique<T>();
}

}  // namespace

// ---- clHistorical ----

const CRuntimeClass clHistorical::runtimeClass{"clHistorical", 0 | VERSIONABLE_SCHEMA,
                                               &CreateEmpty<clHistorical>};

void clHistorical::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteDWord(1);  // format word
        ar.WriteLong(number);
        ar.WriteDWord(quality);
        ar.WriteDouble(value);
        ar.WriteByte(numeric ? 1 : 0);
        ar.WriteString(remark);
        ar.WriteLong(timestamp.GetYear());
        ar.WriteLong(timestamp.GetMonth());
        ar.WriteLong(timestamp.GetDay());
        ar.WriteLong(timestamp.GetHour());
        ar.WriteLong(timestamp.GetMinute());
        ar.WriteLong(timestamp.GetSecond());
        ar.WriteLong(timestamp.GetMillisecond());
        return;
    }
    ar.ReadDWord();  // format word, not checked
    number = ar.ReadLong();
    quality = ar.ReadDWord();
    value = ar.ReadDouble();
    numeric = ar.ReadByte() != 0;
    remark = ar.ReadString();
    const std::int32_t year = ar.ReadLong();
    const std::int32_t month = ar.ReadLong();
    const std::int32_t day = ar.ReadLong();
    const std::int32_t hour = ar.ReadLong();
    const std::int32_t minute = ar.ReadLong();
    const std::int32_t second = ar.ReadLong();
    const std::int32_t millisecond = ar.ReadLong();
    timestamp.SetDateTime(year, month, day, hour, minute, second, millisecond);
}

std::string clHistorical::GetPropertyText(std::string_view key) const {
    if (EqualsNoCase(key, "value")) {
        if (numeric) {
            return DoubleToText(value);
        }
        return value > 0 ? "On" : "Off";
    }
    if (EqualsNoCase(key, "quality")) {
        return std::string(QualityText(quality));
    }
    if (EqualsNoCase(key, "timestamp")) {
        return std::string(timestamp.Format().view());
    }
    if (EqualsNoCase(key, "remark")) {
        return remark;
    }
    return {};
}

void clHistorical::SetPropertyText(std::string_view key, std::string_view text) {
    if (EqualsNoCase(key, "remark")) {
        remark = text;
    }
}

// ---- clHistoricals ----

const CRuntimeClass clHistoricals::runtimeClass{"clHistoricals", 0 | VERSIONABLE_SCHEMA,
                                                &CreateEmpty<clHistoricals>};

bool clHistoricals::AddSample(const clDateTime& timestamp, double value, std::uint32_t quality,
                              bool numeric) {
    if (!enabled) {
        return false;
    }
    std::lock_guard guard(lock_);
    // The same steps as Insert. A sample that would be refused is never built, and a full
    // buffer that overwrites reuses its oldest sample in place, so that the steady state of a
    // busy item allocates nothing.
    WrapNumber();
    if (IsFull()) {
        if (!overwrite) {
            return true;
        }
        if (!samples_.empty()) {
            samples_.splice(samples_.begin(), samples_, std::prev(samples_.end()));
            clHistorical& reused = *samples_.front();
            reused.timestamp = timestamp;
            reused.quality = quality;
            reused.value = value;
            reused.remark.clear();
            reused.numeric = numeric;
            reused.number = nextNumber_++;
            return true;
        }
    }
    auto sample = std::make_unique<clHistorical>();
    sample->timestamp = timestamp;
    sample->quality = quality;
    sample->value = value;
    sample->numeric = numeric;
    sample->number = nextNumber_++;
    PushFront(std::move(sample));
    return true;
}

void clHistoricals::Insert(std::unique_ptr<clHistorical> sample) {
    if (sample == nullptr) {
        return;
    }
    std::lock_guard guard(lock_);
    WrapNumber();
    if (IsFull()) {
        if (!overwrite) {
            return;  // the refused sample goes with `sample`
        }
        if (!samples_.empty()) {
            PopBack();
        }
    }
    sample->number = nextNumber_++;
    PushFront(std::move(sample));
}

void clHistoricals::Resize() {
    // Only the user-interface thread changes the list or the capacity, so the test needs no
    // lock; the count is atomic for the reader threads' sake.
    if (static_cast<std::int64_t>(count_.load(std::memory_order_relaxed)) <= capacity) {
        return;
    }
    std::lock_guard guard(lock_);
    // A capacity below zero empties the list and no more.
    while (!samples_.empty() && static_cast<std::int64_t>(samples_.size()) > capacity) {
        PopBack();
    }
}

void clHistoricals::RemoveAll() {
    std::lock_guard guard(lock_);
    while (!samples_.empty()) {
        PopBack();
    }
}

std::size_t clHistoricals::GetCount() const {
    return count_.load(std::memory_order_relaxed);
}

std::int32_t clHistoricals::GetNextNumber() const {
    std::lock_guard guard(lock_);
    return nextNumber_;
}

bool clHistoricals::SetRemark(std::int32_t number, std::string_view remark) {
    std::lock_guard guard(lock_);
    for (const auto& sample : samples_) {
        if (sample->number == number) {
            sample->remark = remark;
            return true;
        }
    }
    return false;
}

void clHistoricals::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        std::lock_guard guard(lock_);
        ar.WriteDWord(1);  // format word
        ar.WriteLong(nextNumber_);
        ar.WriteByte(enabled ? 1 : 0);
        ar.WriteLong(capacity);
        ar.WriteByte(overwrite ? 1 : 0);
        ar.WriteCount(static_cast<std::uint32_t>(samples_.size()));
        for (const auto& sample : samples_) {
            ar.WriteObject(sample.get());
        }
        return;
    }
    // Everything is read first and taken over only once the whole image has been read, so a
    // damaged image leaves the buffer as it was.
    ar.ReadDWord();  // format word, not checked
    const std::int32_t nextNumber = ar.ReadLong();
    const bool isEnabled = ar.ReadByte() != 0;
    const std::int32_t loadedCapacity = ar.ReadLong();
    const bool overwrites = ar.ReadByte() != 0;
    // Elements are read one by one (never reserved up front), so a count that the input merely
    // claims ends at the end of the input. The list is not cut to the capacity.
    std::list<std::unique_ptr<clHistorical>> loaded;
    for (std::uint32_t n = ar.ReadCount(); n > 0; --n) {
        loaded.push_back(ar.ReadNew<clHistorical>());
    }
    enabled = isEnabled;
    capacity = loadedCapacity;
    overwrite = overwrites;
    std::list<std::unique_ptr<clHistorical>> previous;
    {
        std::lock_guard guard(lock_);
        nextNumber_ = nextNumber;
        previous.swap(samples_);
        samples_.swap(loaded);
        count_.store(samples_.size(), std::memory_order_relaxed);
    }
}

void clHistoricals::WrapNumber() {
    // Numbers run from 1 to kLastNumber. A number below 1 can only come from a damaged file;
    // it restarts the numbering too.
    if (nextNumber_ > kLastNumber || nextNumber_ < 1) {
        nextNumber_ = 1;
    }
}

bool clHistoricals::IsFull() const {
    return static_cast<std::int64_t>(samples_.size()) >= capacity;
}

void clHistoricals::PushFront(std::unique_ptr<clHistorical> sample) {
    samples_.push_front(std::move(sample));
    count_.store(samples_.size(), std::memory_order_relaxed);
}

void clHistoricals::PopBack() {
    samples_.pop_back();
    count_.store(samples_.size(), std::memory_order_relaxed);
}
