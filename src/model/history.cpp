#include "model/history.h"

#include <algorithm>
#include <cassert>
#include <type_traits>
#include <utility>

#include "model/archive.h"
#include "model/text_compare.h"
#include "model/values.h"

namespace {

constexpr std::size_t kCacheLine = 64;

// A hint that these samples are about to be read. Prefetching never faults, so a stale address
// costs nothing but the fetch.
void PrefetchSamples(const clHistorical* first, std::size_t count) {
    const auto* bytes = reinterpret_cast<const char*>(first);
    for (std::size_t offset = 0; offset < count * sizeof(clHistorical); offset += kCacheLine) {
        __builtin_prefetch(bytes + offset);
    }
}

template <class T>
std::unique_ptr<CObject> CreateEmpty() {
    return std::make_unique<T>();
}

}  // namespace

// ---- clHistorical ----

const CRuntimeClass clHistorical::runtimeClass{"clHistorical", 0 | VERSIONABLE_SCHEMA,
                                               &CreateEmpty<clHistorical>};

namespace {

// A sample's image is a run of fixed fields, the remark, and another run of fixed fields: the
// format word, number, quality, value and numeric flag; then the seven date and time words.
constexpr std::size_t kSampleHead = 4 + 4 + 4 + 8 + 1;
constexpr std::size_t kSampleTime = 7 * 4;

}  // namespace

void clHistorical::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        int year = 0;
        int month = 0;
        int day = 0;
        timestamp.GetDate(year, month, day);
        {
            CArchive::Packer out = ar.Claim(kSampleHead);
            out.DWord(1);  // format word
            out.Long(number);
            out.DWord(quality);
            out.Double(value);
            out.Bool(numeric);
        }
        ar.WriteString(remark);
        CArchive::Packer out = ar.Claim(kSampleTime);
        out.Long(year);
        out.Long(month);
        out.Long(day);
        out.Long(timestamp.GetHour());
        out.Long(timestamp.GetMinute());
        out.Long(timestamp.GetSecond());
        out.Long(timestamp.GetMillisecond());
        return;
    }
    {
        CArchive::Unpacker in = ar.Take(kSampleHead);
        in.DWord();  // format word, not checked
        number = in.Long();
        quality = in.DWord();
        value = in.Double();
        numeric = in.Bool();
    }
    remark = ar.ReadString();
    CArchive::Unpacker in = ar.Take(kSampleTime);
    const std::int32_t year = in.Long();
    const std::int32_t month = in.Long();
    const std::int32_t day = in.Long();
    const std::int32_t hour = in.Long();
    const std::int32_t minute = in.Long();
    const std::int32_t second = in.Long();
    const std::int32_t millisecond = in.Long();
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
    // The same steps as Insert, without building a sample that would be refused.
    WrapNumber();
    clHistorical* slot = nullptr;
    if (IsFull()) {
        if (!overwrite) {
            return true;
        }
        if (samples_.Size() != 0) {
            slot = &samples_.RotateBackToFront();
        }
    }
    if (slot == nullptr) {
        slot = &samples_.PushFront(static_cast<std::size_t>(std::max(capacity, 1)));
    }
    // The slot may hold an earlier sample: every field is set.
    slot->timestamp = timestamp;
    slot->quality = quality;
    slot->value = value;
    slot->remark.clear();
    slot->numeric = numeric;
    slot->number = nextNumber_++;
    Counted();
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
        if (samples_.Size() != 0) {
            samples_.PopBack();
        }
    }
    sample->number = nextNumber_++;
    samples_.PushFront(static_cast<std::size_t>(std::max(capacity, 1))) = std::move(*sample);
    Counted();
}

void clHistoricals::Resize() {
    // Only the user-interface thread changes the list or the capacity, so the test needs no
    // lock; the count is atomic for the reader threads' sake.
    if (static_cast<std::int64_t>(count_.load(std::memory_order_relaxed)) <= capacity) {
        return;
    }
    std::lock_guard guard(lock_);
    // A capacity below zero empties the list and no more.
    while (samples_.Size() != 0 && static_cast<std::int64_t>(samples_.Size()) > capacity) {
        samples_.PopBack();
    }
    samples_.ShrinkTo(samples_.Size());
    Counted();
}

void clHistoricals::RemoveAll() {
    std::lock_guard guard(lock_);
    samples_.Clear();
    Counted();
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
    for (std::size_t i = 0; i < samples_.Size(); ++i) {
        if (samples_[i].number == number) {
            samples_[i].remark = remark;
            return true;
        }
    }
    return false;
}

namespace {

// The smallest image a sample has in a stream: a tag word, its fields and an empty remark.
constexpr std::size_t kSmallestSampleImage = 2 + kSampleHead + 1 + kSampleTime;
// The buffer's own fields before its sample list: the format word, the next number, the enabled
// flag, the capacity and the overwrite flag.
constexpr std::size_t kBufferHead = 4 + 4 + 1 + 4 + 1;
// Storage reserved at once for the samples a buffer image claims; more grows as they are read.
constexpr std::size_t kMostReservedSamples = 1024;
// How far ahead of the sample being written the next ones are fetched.
constexpr std::size_t kFetchAhead = 6;

}  // namespace

void clHistoricals::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        std::lock_guard guard(lock_);
        {
            CArchive::Packer out = ar.Claim(kBufferHead);
            out.DWord(1);  // format word
            out.Long(nextNumber_);
            out.Bool(enabled);
            out.Long(capacity);
            out.Bool(overwrite);
        }
        const std::size_t count = samples_.Size();
        ar.WriteCount(static_cast<std::uint32_t>(count));
        for (std::size_t i = 0; i < count; ++i) {
            // Samples a few places ahead are fetched while this one is written.
            if (i + kFetchAhead < count) {
                PrefetchSamples(&samples_[i + kFetchAhead], 1);
            }
            ar.WriteObjectOf(samples_[i]);
        }
        return;
    }
    // Everything is read first and taken over only once the whole image has been read, so a
    // damaged image leaves the buffer as it was.
    CArchive::Unpacker in = ar.Take(kBufferHead);
    in.DWord();  // format word, not checked
    const std::int32_t nextNumber = in.Long();
    const bool isEnabled = in.Bool();
    const std::int32_t loadedCapacity = in.Long();
    const bool overwrites = in.Bool();
    // Storage is reserved only for as many samples as the rest of the input can hold, and no
    // more than a full buffer's worth; a count that the input merely claims ends at the end of
    // the input. The list is not cut to the capacity.
    const std::uint32_t count = ar.ReadCount();
    Ring loaded;
    loaded.Reserve(std::min(
        {std::size_t{count}, ar.Remaining() / kSmallestSampleImage, kMostReservedSamples}));
    for (std::uint32_t n = count; n > 0; --n) {
        ar.ReadNewInto(loaded.Append());
    }
    enabled = isEnabled;
    capacity = loadedCapacity;
    overwrite = overwrites;
    {
        std::lock_guard guard(lock_);
        nextNumber_ = nextNumber;
        samples_.Swap(loaded);
        Counted();
    }
    // The samples held before go with `loaded`, outside the lock.
}

void clHistoricals::WrapNumber() {
    // Numbers run from 1 to kLastNumber. A number below 1 can only come from a damaged file;
    // it restarts the numbering too.
    if (nextNumber_ > kLastNumber || nextNumber_ < 1) {
        nextNumber_ = 1;
    }
}

bool clHistoricals::IsFull() const {
    return static_cast<std::int64_t>(samples_.Size()) >= capacity;
}

void clHistoricals::Counted() {
    count_.store(samples_.Size(), std::memory_order_relaxed);
    newest_.store(samples_.Newest(), std::memory_order_relaxed);
    firstRun_.store(samples_.FirstRun(), std::memory_order_relaxed);
    storage_.store(samples_.Storage(), std::memory_order_relaxed);
}

void clHistoricals::Prefetch() const {
    // The first few samples from the newest on; the walk fetches the others ahead of itself.
    // The four values may be read in the middle of a change; a wrong guess fetches in vain.
    constexpr std::size_t kSamples = 8;
    const std::size_t count = std::min(count_.load(std::memory_order_relaxed), kSamples);
    const std::size_t firstRun = std::min(firstRun_.load(std::memory_order_relaxed), count);
    PrefetchSamples(newest_.load(std::memory_order_relaxed), firstRun);
    PrefetchSamples(storage_.load(std::memory_order_relaxed), count - firstRun);
}

// ---- the sample ring ----

// Growing storage moves samples; a move that could throw would make vectors copy them instead.
static_assert(std::is_nothrow_move_constructible_v<clHistorical>);

void clHistoricals::Ring::Swap(Ring& other) noexcept {
    slots_.swap(other.slots_);
    std::swap(head_, other.head_);
    std::swap(size_, other.size_);
}

clHistorical& clHistoricals::Ring::PushFront(std::size_t limit) {
    if (size_ == slots_.size()) {
        // Doubling keeps growth amortised constant; the limit (the capacity) keeps a buffer that
        // fills up from holding twice the storage it needs.
        std::size_t grown = std::max<std::size_t>(4, 2 * slots_.size());
        grown = std::max(size_ + 1, std::min(grown, limit));
        Relocate(grown);
    }
    head_ = head_ == 0 ? slots_.size() - 1 : head_ - 1;
    ++size_;
    return slots_[head_];
}

clHistorical& clHistoricals::Ring::RotateBackToFront() {
    // The window of used slots moves back by one: its new first slot is the newest, and the
    // oldest sample falls out at its end. With every slot used they are the same slot.
    head_ = head_ == 0 ? slots_.size() - 1 : head_ - 1;
    if (size_ < slots_.size()) {
        std::string().swap(slots_[Physical(size_)].remark);
    }
    return slots_[head_];
}

clHistorical& clHistoricals::Ring::Append() {
    assert(head_ == 0 && size_ == slots_.size() && "Append builds a new ring");
    slots_.emplace_back();
    ++size_;
    return slots_.back();
}

void clHistoricals::Ring::PopBack() {
    // The slot keeps an object, but no remark text of the sample that is gone.
    std::string().swap(slots_[Physical(size_ - 1)].remark);
    --size_;
}

void clHistoricals::Ring::Reserve(std::size_t count) {
    assert(head_ == 0 && size_ == slots_.size() && "Reserve builds a new ring");
    slots_.reserve(count);
}

void clHistoricals::Ring::ShrinkTo(std::size_t count) {
    if (count < slots_.size()) {
        Relocate(count);
    }
}

void clHistoricals::Ring::Clear() {
    std::vector<clHistorical>().swap(slots_);
    head_ = 0;
    size_ = 0;
}

void clHistoricals::Ring::Relocate(std::size_t count) {
    // The samples go to the end of the new storage, so that the newer ones that follow fill the
    // free slots before them and a walk from the newest to the oldest reads upwards through
    // memory.
    std::vector<clHistorical> moved;
    moved.reserve(count);
    moved.resize(count - size_);
    for (std::size_t i = 0; i < size_; ++i) {
        moved.push_back(std::move((*this)[i]));
    }
    slots_.swap(moved);
    head_ = count - size_;
    if (head_ == count) {
        head_ = 0;
    }
}
