#pragma once
// The binary archive of configuration files: little-endian primitives, length-prefixed strings,
// counts and tagged object references with one index table per archive, in the encoding the
// Windows-era program wrote.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/object.h"

class CArchiveException : public std::exception {
  public:
    enum Cause {
        generic,
        readOnly,   // a write on a loading archive
        endOfFile,  // the input ends before a value is complete
        writeOnly,  // a read on a storing archive
        badIndex,   // an object or class index out of range, or the index table full
        badClass,   // an unknown class name, a class name of 64 bytes or more, an unexpected class
        badSchema,  // a stored schema that a non-versionable class does not declare
    };
    explicit CArchiveException(Cause cause) : cause_(cause) {}
    Cause GetCause() const { return cause_; }
    const char* what() const noexcept override;

  private:
    Cause cause_;
};

// The classes an archive may create by name while loading.
class ClassRegistry {
  public:
    // Adding the same class twice is harmless; another class under a name already taken is a
    // programming error (std::logic_error), since a file could not say which one it means.
    void Add(const CRuntimeClass& cls);
    const CRuntimeClass* Find(std::string_view name) const;  // exact, case-sensitive

  private:
    std::vector<const CRuntimeClass*> classes_;
};

class CArchive {
  public:
    // The index table holds at most this many entries, the reserved entry 0 included.
    static constexpr std::uint32_t kMaxMapCount = 0x3FFFFFFE;
    // Class names in class records are 1 to 63 bytes long.
    static constexpr std::size_t kMaxClassNameLength = 63;

    // A loading archive over the whole input; the bytes must outlive the archive.
    CArchive(std::span<const std::uint8_t> input, const ClassRegistry& classes);
    // A temporary buffer would be gone before the first read.
    CArchive(std::vector<std::uint8_t>&& input, const ClassRegistry& classes) = delete;
    // A storing archive that collects its bytes in memory.
    CArchive();
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;
    ~CArchive();

    bool IsLoading() const { return loading_; }
    bool IsStoring() const { return !loading_; }

    // The bytes written so far (storing).
    const std::vector<std::uint8_t>& Bytes() const;
    std::vector<std::uint8_t> TakeBytes();
    // Hands the bytes written so far to sink(std::span<const std::uint8_t>) piece by piece, in
    // order, without gathering them into one buffer first (storing): a large archive can go to a
    // file without the copy that Bytes() makes.
    template <class Sink>
    void VisitBytes(Sink&& sink) const {
        if (!out_.empty()) {
            sink(std::span<const std::uint8_t>(out_));
        }
        for (const Block& b : blocks_) {
            const std::size_t used =
                &b == &blocks_.back() ? static_cast<std::size_t>(writeAt_ - b.data.get()) : b.used;
            if (used != 0) {
                sink(std::span<const std::uint8_t>(b.data.get(), used));
            }
        }
    }
    // Makes room for this many more output bytes at once (storing).
    void Reserve(std::size_t bytes);
    // Bytes not yet read (loading).
    std::size_t Remaining() const { return static_cast<std::size_t>(readEnd_ - readAt_); }

    void WriteByte(std::uint8_t v) { Put(v); }
    void WriteBool(bool v) { Put(static_cast<std::uint8_t>(v ? 1 : 0)); }
    void WriteWord(std::uint16_t v) { Put(v); }
    void WriteDWord(std::uint32_t v) { Put(v); }
    void WriteLong(std::int32_t v) { WriteDWord(static_cast<std::uint32_t>(v)); }
    void WriteDouble(double v) { Put(std::bit_cast<std::uint64_t>(v)); }
    void WriteString(std::string_view s);
    void WriteCount(std::uint32_t n);
    void WriteObject(const CObject* obj);  // null writes the null reference
    // Writes a class reference alone: the class record the first time, its index afterwards.
    void WriteClass(const CRuntimeClass& cls);

    std::uint8_t ReadByte() { return Get<std::uint8_t>(); }
    bool ReadBool() { return Get<std::uint8_t>() != 0; }  // any non-zero byte is true
    std::uint16_t ReadWord() { return Get<std::uint16_t>(); }
    std::uint32_t ReadDWord() { return Get<std::uint32_t>(); }
    std::int32_t ReadLong() { return static_cast<std::int32_t>(ReadDWord()); }
    double ReadDouble() { return std::bit_cast<double>(Get<std::uint64_t>()); }
    std::string ReadString();  // accepts the wide form too and converts it to UTF-8
    std::uint32_t ReadCount();

    // Reads one object reference. A new object comes back in `created` (owned by the caller) and
    // as the result; a reference to an object read earlier comes back as the result alone (not
    // owned); the null reference gives null.
    CObject* ReadObject(std::unique_ptr<CObject>& created);
    // Reads a class reference written by WriteClass.
    const CRuntimeClass& ReadClass();

    // Reads an object reference that must introduce a new object of class T (or a class derived
    // from it): a null reference, a reference to an earlier object or an object of another
    // class is a badClass error. Lists of records read their elements with this, since a list
    // that names one object twice, or an object of the wrong kind, can only come from damage.
    // The class is checked before anything of the object's image is read.
    template <class T>
    std::unique_ptr<T> ReadNew() {
        std::unique_ptr<CObject> created;
        ReadObjectAs(created,
                     [](const CObject* obj) { return dynamic_cast<const T*>(obj) != nullptr; });
        if (created == nullptr) {
            throw CArchiveException(CArchiveException::badClass);
        }
        return std::unique_ptr<T>(static_cast<T*>(created.release()));
    }

    // The schema stored in the file for the class of the object being read, when it differs
    // from the declared one of a versionable class; otherwise the declared one.
    std::uint32_t GetObjectSchema() const { return objectSchema_; }

  private:
    friend class CArchiveTestAccess;  // lowers the index table limit in tests

    template <class T>
    static T ToLittle(T v) {
        if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
            T r{};
            for (std::size_t i = 0; i < sizeof(T); ++i) {
                r = static_cast<T>((r << 8) | ((v >> (8 * i)) & 0xFF));
            }
            return r;
        } else {
            return v;
        }
    }

    // The fast paths check only the room left: a loading archive has no room to write and a
    // storing archive nothing to read, so the direction errors come from the slow paths.
    template <class T>
    void Put(T v) {
        if (static_cast<std::size_t>(writeEnd_ - writeAt_) < sizeof(T)) [[unlikely]] {
            MakeRoom(sizeof(T));
        }
        v = ToLittle(v);
        std::memcpy(writeAt_, &v, sizeof(T));
        writeAt_ += sizeof(T);
    }

    template <class T>
    T Get() {
        if (static_cast<std::size_t>(readEnd_ - readAt_) < sizeof(T)) [[unlikely]] {
            ShortRead();
        }
        T v;
        std::memcpy(&v, readAt_, sizeof(T));
        readAt_ += sizeof(T);
        return ToLittle(v);
    }

    // Objects nest no deeper than this; a file that nests them deeper is refused before the
    // reader's recursion could exhaust the stack.
    static constexpr unsigned kMaxNesting = 256;

    // ReadObject, refusing a new object whose class `accepts` rejects before reading its image.
    CObject* ReadObjectAs(std::unique_ptr<CObject>& created, bool (*accepts)(const CObject*));
    [[noreturn]] static void Fail(CArchiveException::Cause cause);
    void MakeRoom(std::size_t size);
    [[noreturn]] void ShortRead() const;
    void Gather() const;
    void PutBytes(const void* data, std::size_t size);
    void WriteIndexTag(std::uint32_t index, bool isClass);
    std::uint32_t NextIndex();
    std::uint32_t ReadStringLength(bool& wide);
    const CRuntimeClass& ResolveClass(std::uint16_t tag, std::uint32_t value);
    const CRuntimeClass& ReadClassRecord();
    std::uint32_t StoredSchema(const CRuntimeClass& cls) const;
    // Marks the object entries from `index` on as gone, after the objects they name were
    // destroyed, so that a later reference to them is a bad index and not a dangling pointer.
    void ForgetFrom(std::uint32_t index);

    bool loading_;
    const ClassRegistry* classes_ = nullptr;
    const std::uint8_t* readAt_ = nullptr;
    const std::uint8_t* readEnd_ = nullptr;
    // Storing: bytes go into blocks that are never moved while they fill up; Bytes() and
    // TakeBytes() gather them into out_. The last block is the current one: writeAt_ is its next
    // free byte and writeEnd_ its end.
    struct Block {
        std::unique_ptr<std::uint8_t[]> data;
        std::size_t size;
        std::size_t used;
    };
    mutable std::vector<std::uint8_t> out_;
    mutable std::vector<Block> blocks_;
    mutable std::uint8_t* writeAt_ = nullptr;
    mutable std::uint8_t* writeEnd_ = nullptr;
    std::uint32_t objectSchema_ = 0;
    std::uint32_t maxMapCount_ = kMaxMapCount;
    std::uint32_t mapCount_ = 1;  // the next index to give; 0 stands for no object

    // Loading: the index table, shared by classes and objects. A class entry has `cls` set, an
    // object entry `obj`; entry 0 and the entries of destroyed objects have neither.
    struct LoadEntry {
        const CRuntimeClass* cls;
        CObject* obj;
    };
    // Fixed-size chunks, so that a growing table never moves or copies its entries.
    static constexpr unsigned kLoadChunkBits = 10;
    static constexpr std::uint32_t kLoadChunkMask = (1u << kLoadChunkBits) - 1;
    std::vector<std::unique_ptr<LoadEntry[]>> loadChunks_;
    LoadEntry& Entry(std::uint32_t index) const {
        return loadChunks_[index >> kLoadChunkBits][index & kLoadChunkMask];
    }
    std::uint32_t AddLoadEntry(const CRuntimeClass* cls, CObject* obj);
    unsigned nesting_ = 0;  // objects being read, one inside the other
    struct ClassSchema {
        const CRuntimeClass* cls;
        std::uint32_t schema;
    };
    std::vector<ClassSchema> storedSchemas_;  // versionable classes stored with another schema

    // Storing: object to index. One storing archive at a time keeps the indexes in the objects
    // themselves (markSerial_ names it in their marks); any other uses a hash map.
    std::uint64_t markSerial_ = 0;
    class PointerIndexMap;
    std::unique_ptr<PointerIndexMap> storeObjects_;
    struct StoredClass {
        const CRuntimeClass* cls;
        std::uint32_t index;
    };
    std::vector<StoredClass> storeClasses_;
};
