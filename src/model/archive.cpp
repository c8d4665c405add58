#include "model/archive.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <stdexcept>

#include "com/unicode.h"

namespace {

// Tag words of object references.
constexpr std::uint16_t kNullTag = 0x0000;
constexpr std::uint16_t kBigTag = 0x7FFF;
constexpr std::uint16_t kClassTag = 0x8000;
constexpr std::uint16_t kNewClassTag = 0xFFFF;
constexpr std::uint32_t kBigClassTag = 0x80000000u;

// String length prefixes.
constexpr std::uint8_t kByteEscape = 0xFF;
constexpr std::uint16_t kWideMarker = 0xFFFE;
constexpr std::uint16_t kWordEscape = 0xFFFF;
constexpr std::uint32_t kDWordEscape = 0xFFFFFFFFu;
constexpr std::uint64_t kMaxStringLength = 0x7FFFFFFF;

// Counts.
constexpr std::uint16_t kCountEscape = 0xFFFF;

}  // namespace

const char* CArchiveException::what() const noexcept {
    switch (cause_) {
        case generic:
            return "archive error";
        case readOnly:
            return "tried to write to an archive opened for loading";
        case endOfFile:
            return "unexpected end of archive";
        case writeOnly:
            return "tried to read from an archive opened for storing";
        case badIndex:
            return "invalid object or class index in archive";
        case badClass:
            return "unknown or unexpected class in archive";
        case badSchema:
            return "unsupported class schema in archive";
    }
    return "archive error";
}

void ClassRegistry::Add(const CRuntimeClass& cls) {
    if (const CRuntimeClass* known = Find(cls.name); known != nullptr) {
        if (known != &cls) {
            throw std::logic_error("two serializable classes share one name");
        }
        return;
    }
    classes_.push_back(&cls);
}

const CRuntimeClass* ClassRegistry::Find(std::string_view name) const {
    const auto it = std::find_if(classes_.begin(), classes_.end(),
                                 [name](const CRuntimeClass* c) { return c->name == name; });
    return it == classes_.end() ? nullptr : *it;
}

// Object pointer to archive index, by open addressing with linear probing: the table of a storing
// archive that runs while another one holds the object marks.
class CArchive::PointerIndexMap {
  public:
    PointerIndexMap() { Rehash(kInitialBits); }

    // The index stored for `key`; a new key gets a slot holding 0 (no index yet), which stays
    // valid until the next call.
    std::uint32_t& Slot(const void* key) {
        if ((size_ + 1) * 4 > slots_.size() * 3) {
            Rehash(bits_ + 1);
        }
        for (std::size_t i = Home(key);; i = (i + 1) & mask_) {
            Entry& e = slots_[i];
            if (e.key == key) {
                return e.index;
            }
            if (e.key == nullptr) {
                e.key = key;
                ++size_;
                return e.index;
            }
        }
    }

  private:
    static constexpr unsigned kInitialBits = 10;
    struct Entry {
        const void* key = nullptr;
        std::uint32_t index = 0;
    };

    std::size_t Home(const void* key) const {
        // Fibonacci hashing: the high bits of the product mix every bit of the address.
        const auto k = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key));
        return static_cast<std::size_t>((k * 0x9E3779B97F4A7C15ull) >> (64 - bits_));
    }

    void Rehash(unsigned bits) {
        std::vector<Entry> old(std::size_t{1} << bits);
        old.swap(slots_);
        bits_ = bits;
        mask_ = slots_.size() - 1;
        for (const Entry& e : old) {
            if (e.key != nullptr) {
                std::size_t i = Home(e.key);
                while (slots_[i].key != nullptr) {
                    i = (i + 1) & mask_;
                }
                slots_[i] = e;
            }
        }
    }

    std::vector<Entry> slots_;
    unsigned bits_ = 0;
    std::size_t mask_ = 0;
    std::size_t size_ = 0;
};

CArchive::CArchive(std::span<const std::uint8_t> input, const ClassRegistry& classes)
    : loading_(true),
      classes_(&classes),
      readAt_(input.data()),
      readEnd_(input.data() + input.size()) {}

namespace {

// The object marks serve one storing archive at a time; the serial tells its marks from those
// left by earlier archives. A mark holds the serial above the 30 bits of the index.
constexpr unsigned kMarkIndexBits = 30;
constexpr std::uint64_t kMarkIndexMask = (std::uint64_t{1} << kMarkIndexBits) - 1;
constexpr std::uint64_t kLastMarkSerial = (std::uint64_t{1} << (64 - kMarkIndexBits)) - 1;
static_assert(CArchive::kMaxMapCount <= kMarkIndexMask);
std::atomic<bool> g_marksTaken{false};
std::atomic<std::uint64_t> g_lastMarkSerial{0};

}  // namespace

CArchive::CArchive() : loading_(false) {
    if (!g_marksTaken.exchange(true, std::memory_order_acquire)) {
        const std::uint64_t serial = g_lastMarkSerial.fetch_add(1, std::memory_order_relaxed) + 1;
        if (serial <= kLastMarkSerial) {
            markSerial_ = serial;
            return;
        }
        g_marksTaken.store(false, std::memory_order_release);
    }
    storeObjects_ = std::make_unique<PointerIndexMap>();
}

CArchive::~CArchive() {
    ReleaseBlocks(0);
    if (markSerial_ != 0) {
        g_marksTaken.store(false, std::memory_order_release);
    }
}

void CArchive::Fail(CArchiveException::Cause cause) {
    throw CArchiveException(cause);
}

// ---- the output buffer ----

namespace {

// Output grows in blocks that double from kFirstBlock up to kBlock bytes, then stay at kBlock.
constexpr std::size_t kFirstBlock = std::size_t{64} * 1024;
constexpr std::size_t kBlock = std::size_t{1024} * 1024;
// Full-size blocks of finished storing archives are kept for the next ones, up to this many
// bytes: a large configuration is saved again and again, and writing into fresh memory costs a
// page fault every 4 KiB, about as much again as producing the bytes.
constexpr std::size_t kKeptBytes = std::size_t{64} * 1024 * 1024;

class KeptBlocks {
  public:
    // A kept block of kBlock bytes, or null.
    std::unique_ptr<std::uint8_t[]> Take() {
        std::lock_guard guard(lock_);
        if (blocks_.empty()) {
            return nullptr;
        }
        std::unique_ptr<std::uint8_t[]> block = std::move(blocks_.back());
        blocks_.pop_back();
        return block;
    }

    // Keeps a block of kBlock bytes, or frees it when enough are kept.
    void Give(std::unique_ptr<std::uint8_t[]> block) {
        std::lock_guard guard(lock_);
        if (blocks_.size() < kKeptBytes / kBlock) {
            blocks_.push_back(std::move(block));
        }
    }

  private:
    std::mutex lock_;
    std::vector<std::unique_ptr<std::uint8_t[]>> blocks_;
};

KeptBlocks& Kept() {
    // Never destroyed, so that an archive that outlives the end of main still finds it.
    static union Immortal {
        Immortal() : kept() {}
        ~Immortal() {}
        KeptBlocks kept;
    } immortal;
    return immortal.kept;
}

}  // namespace

void CArchive::MakeRoom(std::size_t size) {
    if (loading_) {
        Fail(CArchiveException::readOnly);
    }
    if (static_cast<std::size_t>(writeEnd_ - writeAt_) >= size) {
        return;
    }
    std::size_t next = kFirstBlock;
    if (!blocks_.empty()) {
        Block& current = blocks_.back();
        current.used = static_cast<std::size_t>(writeAt_ - current.data.get());
        next = std::min(2 * current.size, kBlock);
    }
    // Blocks are not cleared first: every byte is written before it is read.
    std::unique_ptr<std::uint8_t[]> data;
    if (size <= kBlock) {
        data = Kept().Take();
    }
    if (data != nullptr) {
        next = kBlock;
    } else {
        next = std::max(next, size);
        data = std::make_unique_for_overwrite<std::uint8_t[]>(next);
    }
    blocks_.push_back({std::move(data), next, 0});
    writeAt_ = blocks_.back().data.get();
    writeEnd_ = writeAt_ + next;
}

void CArchive::ReleaseBlocks(std::size_t keep) const {
    for (std::size_t i = keep; i < blocks_.size(); ++i) {
        if (blocks_[i].size == kBlock) {
            Kept().Give(std::move(blocks_[i].data));
        }
    }
    blocks_.resize(std::min(keep, blocks_.size()));
}

void CArchive::Reserve(std::size_t bytes) {
    MakeRoom(bytes);
}

void CArchive::Gather() const {
    if (blocks_.empty()) {
        return;
    }
    blocks_.back().used = static_cast<std::size_t>(writeAt_ - blocks_.back().data.get());
    if (out_.empty()) {
        std::size_t total = 0;
        for (const Block& b : blocks_) {
            total += b.used;
        }
        out_.reserve(total);
    }
    for (const Block& b : blocks_) {
        out_.insert(out_.end(), b.data.get(), b.data.get() + b.used);
    }
    // The current block is emptied and kept for what is written next.
    if (blocks_.size() > 1) {
        std::swap(blocks_.front(), blocks_.back());
        ReleaseBlocks(1);
    }
    Block& current = blocks_.front();
    current.used = 0;
    writeAt_ = current.data.get();
    writeEnd_ = writeAt_ + current.size;
}

const std::vector<std::uint8_t>& CArchive::Bytes() const {
    Gather();
    return out_;
}

std::vector<std::uint8_t> CArchive::TakeBytes() {
    Gather();
    ReleaseBlocks(0);
    writeAt_ = nullptr;
    writeEnd_ = nullptr;
    std::vector<std::uint8_t> bytes = std::move(out_);
    out_.clear();
    return bytes;
}

void CArchive::PutBytes(const void* data, std::size_t size) {
    if (static_cast<std::size_t>(writeEnd_ - writeAt_) < size) {
        MakeRoom(size);
    }
    if (size != 0) {
        std::memcpy(writeAt_, data, size);
        writeAt_ += size;
    }
}

void CArchive::ShortRead() const {
    Fail(loading_ ? CArchiveException::endOfFile : CArchiveException::writeOnly);
}

std::uint32_t CArchive::NextIndex() {
    if (mapCount_ >= maxMapCount_) {
        Fail(CArchiveException::badIndex);
    }
    return mapCount_++;
}

// ---- strings and counts ----

void CArchive::WriteString(std::string_view s) {
    const std::uint64_t n = s.size();
    if (n < kByteEscape) {
        WriteByte(static_cast<std::uint8_t>(n));
    } else {
        WriteByte(kByteEscape);
        if (n < kWideMarker) {
            WriteWord(static_cast<std::uint16_t>(n));
        } else {
            WriteWord(kWordEscape);
            if (n < kDWordEscape) {
                WriteDWord(static_cast<std::uint32_t>(n));
            } else {
                WriteDWord(kDWordEscape);
                Put(n);
            }
        }
    }
    PutBytes(s.data(), s.size());
}

std::uint32_t CArchive::ReadStringLength(bool& wide) {
    wide = false;
    std::uint8_t b = ReadByte();
    if (b < kByteEscape) {
        return b;
    }
    std::uint16_t w = ReadWord();
    if (w == kWideMarker) {
        // A UTF-16 string: the length prefix follows again, counted in 16-bit units.
        wide = true;
        b = ReadByte();
        if (b < kByteEscape) {
            return b;
        }
        w = ReadWord();
    }
    if (w < kWordEscape) {
        return w;
    }
    const std::uint32_t d = ReadDWord();
    if (d < kDWordEscape) {
        return d;
    }
    const auto q = Get<std::uint64_t>();
    if (q > kMaxStringLength) {
        Fail(CArchiveException::generic);
    }
    return static_cast<std::uint32_t>(q);
}

std::string CArchive::ReadString() {
    bool wide = false;
    const std::uint32_t n = ReadStringLength(wide);
    // The bytes must be there before anything is allocated for them.
    const std::size_t bytes = wide ? std::size_t{2} * n : std::size_t{n};
    if (Remaining() < bytes) {
        Fail(CArchiveException::endOfFile);
    }
    const std::uint8_t* p = readAt_;
    readAt_ += bytes;
    if (!wide) {
        return std::string(reinterpret_cast<const char*>(p), bytes);
    }
    std::u16string units(n, u'\0');
    for (std::size_t i = 0; i < n; ++i) {
        units[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    }
    return Utf16ToUtf8(units);
}

void CArchive::WriteCount(std::uint32_t n) {
    if (n < kCountEscape) {
        WriteWord(static_cast<std::uint16_t>(n));
    } else {
        WriteWord(kCountEscape);
        WriteDWord(n);
    }
}

std::uint32_t CArchive::ReadCount() {
    const std::uint16_t w = ReadWord();
    return w != kCountEscape ? w : ReadDWord();
}

// ---- object references, storing ----

void CArchive::WriteIndexTag(std::uint32_t index, bool isClass) {
    if (index < kBigTag) {
        WriteWord(static_cast<std::uint16_t>(isClass ? (kClassTag | index) : index));
    } else {
        WriteWord(kBigTag);
        WriteDWord(isClass ? (kBigClassTag | index) : index);
    }
}

void CArchive::WriteClass(const CRuntimeClass& cls) {
    if (loading_) {
        Fail(CArchiveException::generic);
    }
    // Objects of one class mostly follow each other: the class written last is tried first.
    if (lastClass_.cls == &cls) {
        WriteIndexTag(lastClass_.index, true);
        return;
    }
    for (const StoredClass& known : storeClasses_) {
        if (known.cls == &cls) {
            lastClass_ = known;
            WriteIndexTag(known.index, true);
            return;
        }
    }
    // A name the reader would refuse must not reach the file.
    if (cls.name.empty() || cls.name.size() > kMaxClassNameLength) {
        Fail(CArchiveException::badClass);
    }
    const std::uint32_t index = NextIndex();
    WriteWord(kNewClassTag);
    WriteWord(cls.SchemaWord());
    WriteWord(static_cast<std::uint16_t>(cls.name.size()));
    PutBytes(cls.name.data(), cls.name.size());
    storeClasses_.push_back({&cls, index});
    lastClass_ = storeClasses_.back();
}

void CArchive::WriteObject(const CObject* obj) {
    if (obj == nullptr) {
        if (loading_) {
            Fail(CArchiveException::readOnly);
        }
        WriteWord(kNullTag);
        return;
    }
    if (BeginObject(*obj, *obj->GetRuntimeClass())) {
        // Serialize serves both directions; in the storing direction it only reads the object.
        const_cast<CObject*>(obj)->Serialize(*this);
    }
}

bool CArchive::BeginObject(const CObject& obj, const CRuntimeClass& cls) {
    if (loading_) {
        Fail(CArchiveException::readOnly);
    }
    if (markSerial_ != 0) {
        const std::uint64_t mark = obj.archiveMark_;
        if ((mark >> kMarkIndexBits) == markSerial_) {
            WriteIndexTag(static_cast<std::uint32_t>(mark & kMarkIndexMask), false);
            return false;
        }
        WriteClass(cls);
        obj.archiveMark_ = (markSerial_ << kMarkIndexBits) | NextIndex();
    } else {
        // The slot stays valid across WriteClass, which does not touch the object map.
        std::uint32_t& slot = storeObjects_->Slot(&obj);
        if (slot != 0) {
            WriteIndexTag(slot, false);
            return false;
        }
        WriteClass(cls);
        slot = NextIndex();
    }
    return true;
}

// ---- object references, loading ----

std::uint32_t CArchive::StoredSchema(const CRuntimeClass& cls) const {
    for (const ClassSchema& s : storedSchemas_) {
        if (s.cls == &cls) {
            return s.schema;
        }
    }
    return cls.schema & ~VERSIONABLE_SCHEMA;
}

const CRuntimeClass& CArchive::ReadClassRecord() {
    const std::uint16_t schema = ReadWord();
    const std::uint16_t length = ReadWord();
    if (length > kMaxClassNameLength || Remaining() < length) {
        Fail(CArchiveException::badClass);
    }
    const std::string_view name(reinterpret_cast<const char*>(readAt_), length);
    readAt_ += length;
    const CRuntimeClass* cls = classes_->Find(name);
    if (cls == nullptr) {
        Fail(CArchiveException::badClass);
    }
    if (schema != (cls->schema & ~VERSIONABLE_SCHEMA)) {
        if (!cls->IsVersionable()) {
            Fail(CArchiveException::badSchema);
        }
        const auto it = std::find_if(storedSchemas_.begin(), storedSchemas_.end(),
                                     [cls](const ClassSchema& s) { return s.cls == cls; });
        if (it != storedSchemas_.end()) {
            it->schema = schema;
        } else {
            storedSchemas_.push_back({cls, schema});
        }
    }
    loadClasses_.push_back({NextIndex(), cls});
    return *cls;
}

const CRuntimeClass& CArchive::ResolveClass(std::uint16_t tag, std::uint32_t value) {
    if (tag == kNewClassTag) {
        return ReadClassRecord();
    }
    const std::uint32_t index = value & ~kBigClassTag;
    const CRuntimeClass* cls = LoadedClassAt(index);
    if (cls == nullptr) {
        Fail(CArchiveException::badIndex);
    }
    return *cls;
}

std::uint32_t CArchive::ReadTag(std::uint16_t& tag) {
    // A word tag carries the class bit in bit 15, the big tag in bit 31 of the value after it.
    tag = ReadWord();
    return tag == kBigTag ? ReadDWord()
                          : ((tag & std::uint32_t{kClassTag}) << 16) | (tag & 0x7FFFu);
}

CObject* CArchive::ReadObject(std::unique_ptr<CObject>& created) {
    return ReadObjectAs(created, nullptr);
}

CObject* CArchive::ReadObjectAs(std::unique_ptr<CObject>& created,
                                bool (*accepts)(const CObject*)) {
    if (!loading_) {
        Fail(CArchiveException::writeOnly);
    }
    std::uint16_t tag = 0;
    const std::uint32_t value = ReadTag(tag);
    if ((value & kBigClassTag) == 0) {
        if (value == 0) {
            return nullptr;
        }
        // Only an object read earlier may be named again; a class index or the index of an
        // object that was destroyed is as wrong as one beyond the table.
        CObject* earlier = LoadedObjectAt(value);
        if (earlier == nullptr) {
            Fail(CArchiveException::badIndex);
        }
        return earlier;
    }
    const CRuntimeClass& cls = ResolveClass(tag, value);
    if (cls.create == nullptr) {
        Fail(CArchiveException::badClass);
    }
    std::unique_ptr<CObject> obj = cls.create();
    if (obj == nullptr) {
        throw std::bad_alloc();
    }
    if ((accepts != nullptr && !accepts(obj.get())) || nesting_ >= kMaxNesting) {
        Fail(CArchiveException::badClass);
    }
    const std::uint32_t index = NextIndex();
    loadObjects_.push_back({index, obj.get()});
    ReadImage(*obj, cls, index);
    created = std::move(obj);
    return created.get();
}

void CArchive::ReadInto(CObject& obj, const CRuntimeClass& expected) {
    if (!loading_) {
        Fail(CArchiveException::writeOnly);
    }
    std::uint16_t tag = 0;
    const std::uint32_t value = ReadTag(tag);
    if ((value & kBigClassTag) == 0) {
        // Not a new object: as with ReadNew, an index that names no object is a bad index, and
        // the null reference or an earlier object are the wrong kind.
        if (value != 0 && LoadedObjectAt(value) == nullptr) {
            Fail(CArchiveException::badIndex);
        }
        Fail(CArchiveException::badClass);
    }
    const CRuntimeClass& cls = ResolveClass(tag, value);
    if (&cls != &expected || nesting_ >= kMaxNesting) {
        Fail(CArchiveException::badClass);
    }
    ReadImage(obj, cls, NextIndex());
}

void CArchive::ReadImage(CObject& obj, const CRuntimeClass& cls, std::uint32_t index) {
    const std::uint32_t outerSchema = objectSchema_;
    objectSchema_ = StoredSchema(cls);
    ++nesting_;
    try {
        obj.Serialize(*this);
    } catch (...) {
        --nesting_;
        objectSchema_ = outerSchema;
        // The object is discarded with whatever it read, so nothing may name them again.
        ForgetFrom(index);
        throw;
    }
    --nesting_;
    objectSchema_ = outerSchema;
}

const CRuntimeClass& CArchive::ReadClass() {
    if (!loading_) {
        Fail(CArchiveException::writeOnly);
    }
    std::uint16_t tag = 0;
    const std::uint32_t value = ReadTag(tag);
    if ((value & kBigClassTag) == 0) {
        Fail(CArchiveException::badIndex);
    }
    return ResolveClass(tag, value);
}

const CRuntimeClass* CArchive::LoadedClassAt(std::uint32_t index) const {
    const auto at =
        std::lower_bound(loadClasses_.begin(), loadClasses_.end(), index,
                         [](const LoadedClass& entry, std::uint32_t i) { return entry.index < i; });
    return at != loadClasses_.end() && at->index == index ? at->cls : nullptr;
}

CObject* CArchive::LoadedObjectAt(std::uint32_t index) const {
    const auto at = std::lower_bound(
        loadObjects_.begin(), loadObjects_.end(), index,
        [](const LoadedObject& entry, std::uint32_t i) { return entry.index < i; });
    return at != loadObjects_.end() && at->index == index ? at->obj : nullptr;
}

void CArchive::ForgetFrom(std::uint32_t index) {
    const auto from = std::lower_bound(
        loadObjects_.begin(), loadObjects_.end(), index,
        [](const LoadedObject& entry, std::uint32_t i) { return entry.index < i; });
    loadObjects_.erase(from, loadObjects_.end());
}
