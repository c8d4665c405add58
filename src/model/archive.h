#pragma once
// The binary archive of configuration files: little-endian primitives, length-prefixed strings,
// counts and tagged object references with one index table per archive, in the encoding the
// Windows-era program wrote.

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
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
    // WriteObject for an object of the final class T: the same bytes, with the class known and
    // the image written without a virtual call, for the long lists of one class.
    template <class T>
    void WriteObjectOf(const T& obj) {
        static_assert(std::is_final_v<T>, "the object's class must be T itself");
        if (BeginObject(obj, T::runtimeClass)) {
            const_cast<T&>(obj).T::Serialize(*this);
        }
    }
    // Writes a class reference alone: the class record the first time, its index afterwards.
    void WriteClass(const CRuntimeClass& cls);

    // A run of primitives of known total size, written with one check of the room left instead
    // of one per value: Claim(size) hands out exactly the next `size` output bytes, and the
    // caller fills every one of them through the Packer before anything else is written.
    class Packer {
      public:
        Packer(const Packer&) = delete;
        Packer& operator=(const Packer&) = delete;
        ~Packer() { assert(at_ == end_ && "a claimed run was not filled"); }

        void Byte(std::uint8_t v) { Put(v); }
        void Bool(bool v) { Put(static_cast<std::uint8_t>(v ? 1 : 0)); }
        void Word(std::uint16_t v) { Put(v); }
        void DWord(std::uint32_t v) { Put(v); }
        void Long(std::int32_t v) { Put(static_cast<std::uint32_t>(v)); }
        void Double(double v) { Put(std::bit_cast<std::uint64_t>(v)); }

      private:
        friend class CArchive;
        Packer(std::uint8_t* at, std::uint8_t* end) : at_(at), end_(end) {}
        template <class T>
        void Put(T v) {
            assert(static_cast<std::size_t>(end_ - at_) >= sizeof(T) && "claimed run overrun");
            v = ToLittle(v);
            std::memcpy(at_, &v, sizeof(T));
            at_ += sizeof(T);
        }
        std::uint8_t* at_;
        [[maybe_unused]] std::uint8_t* end_;  // checked only in debug builds
    };
    Packer Claim(std::size_t size) {
        if (static_cast<std::size_t>(writeEnd_ - writeAt_) < size) [[unlikely]] {
            MakeRoom(size);
        }
        std::uint8_t* const at = writeAt_;
        writeAt_ += size;
        return Packer(at, writeAt_);
    }

    // The reading counterpart: Take(size) consumes exactly the next `size` input bytes at once
    // (the end-of-file error when fewer remain), and the Unpacker reads them back.
    class Unpacker {
      public:
        Unpacker(const Unpacker&) = delete;
        Unpacker& operator=(const Unpacker&) = delete;
        ~Unpacker() { assert(at_ == end_ && "a taken run was not read"); }

        std::uint8_t Byte() { return Get<std::uint8_t>(); }
        bool Bool() { return Get<std::uint8_t>() != 0; }
        std::uint16_t Word() { return Get<std::uint16_t>(); }
        std::uint32_t DWord() { return Get<std::uint32_t>(); }
        std::int32_t Long() { return static_cast<std::int32_t>(Get<std::uint32_t>()); }
        double Double() { return std::bit_cast<double>(Get<std::uint64_t>()); }

      private:
        friend class CArchive;
        Unpacker(const std::uint8_t* at, const std::uint8_t* end) : at_(at), end_(end) {}
        template <class T>
        T Get() {
            assert(static_cast<std::size_t>(end_ - at_) >= sizeof(T) && "taken run overrun");
            T v;
            std::memcpy(&v, at_, sizeof(T));
            at_ += sizeof(T);
            return ToLittle(v);
        }
        const std::uint8_t* at_;
        [[maybe_unused]] const std::uint8_t* end_;  // checked only in debug builds
    };
    Unpacker Take(std::size_t size) {
        if (static_cast<std::size_t>(readEnd_ - readAt_) < size) [[unlikely]] {
            ShortRead();
        }
        const std::uint8_t* const at = readAt_;
        readAt_ += size;
        return Unpacker(at, readAt_);
    }

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

    // Reads an object reference that must introduce a new object of exactly class T, into
    // `obj`, an object the caller already holds (an element of a container), instead of
    // creating one; otherwise as ReadNew. Since the caller's storage may move the object, the
    // index table keeps no pointer to it: a later reference to it is a bad index. On an error
    // `obj` may be partly read.
    template <class T>
    void ReadNewInto(T& obj) {
        ReadInto(obj, T::runtimeClass);
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
    // Writes the reference to obj, of class cls; true when its image must follow (the object is
    // new to this archive).
    bool BeginObject(const CObject& obj, const CRuntimeClass& cls);
    void ReadInto(CObject& obj, const CRuntimeClass& expected);
    // Reads a tag word, and the 32-bit value after a big tag; returns the index with the class
    // mark in bit 31.
    std::uint32_t ReadTag(std::uint16_t& tag);
    // Reads the image of a new object of class cls entered in the index table under `index`.
    void ReadImage(CObject& obj, const CRuntimeClass& cls, std::uint32_t index);
    [[noreturn]] static void Fail(CArchiveException::Cause cause);
    void MakeRoom(std::size_t size);
    [[noreturn]] void ShortRead() const;
    void Gather() const;
    // Drops the output blocks from `keep` on; full-size ones are kept for later archives.
    void ReleaseBlocks(std::size_t keep) const;
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

    // Loading: the index table, shared by classes and objects, as two lists in index order
    // (looked up by binary search). An index with no entry in either names nothing that may be
    // referred to: entry 0, an object read in place, an object that was destroyed.
    struct LoadedClass {
        std::uint32_t index;
        const CRuntimeClass* cls;
    };
    struct LoadedObject {
        std::uint32_t index;
        CObject* obj;
    };
    std::vector<LoadedClass> loadClasses_;
    std::vector<LoadedObject> loadObjects_;
    const CRuntimeClass* LoadedClassAt(std::uint32_t index) const;
    CObject* LoadedObjectAt(std::uint32_t index) const;
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
    StoredClass lastClass_{nullptr, 0};  // the class written last
};
