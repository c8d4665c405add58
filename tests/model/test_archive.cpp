#include "model/archive.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

// Records the largest single allocation made while a measurement runs, so that tests can show
// that a reader does not allocate what a damaged file merely claims.
namespace {
thread_local bool g_measuring = false;
thread_local std::size_t g_largest = 0;
}  // namespace

void* operator new(std::size_t size) {
    if (g_measuring && size > g_largest) {
        g_largest = size;
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

std::size_t LargestAllocationDuring(const std::function<void()>& run) {
    g_largest = 0;
    g_measuring = true;
    try {
        run();
    } catch (...) {
        g_measuring = false;
        throw;
    }
    g_measuring = false;
    return g_largest;
}

class CArchiveTestAccess {
  public:
    static void SetMaxMapCount(CArchive& ar, std::uint32_t count) { ar.maxMapCount_ = count; }
};

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes B(std::initializer_list<int> values) {
    Bytes out;
    for (const int v : values) {
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

// A versionable leaf holding one number; counts its live instances to catch leaks.
class Leaf : public CObject {
  public:
    static const CRuntimeClass runtimeClass;
    static inline int live = 0;
    Leaf() { ++live; }
    explicit Leaf(std::int32_t v) : value(v) { ++live; }
    Leaf(const Leaf&) = delete;
    ~Leaf() override { --live; }
    const CRuntimeClass* GetRuntimeClass() const override { return &runtimeClass; }
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring()) {
            ar.WriteLong(value);
        } else {
            seenSchema = ar.GetObjectSchema();
            value = ar.ReadLong();
        }
    }
    std::int32_t value = 0;
    std::uint32_t seenSchema = 0xDEAD;
};
const CRuntimeClass Leaf::runtimeClass = {
    "Leaf", VERSIONABLE_SCHEMA | 0,
    []() -> std::unique_ptr<CObject> { return std::make_unique<Leaf>(); }};

// A versionable object holding a list of references; owns those it read as new objects.
class Holder : public CObject {
  public:
    static const CRuntimeClass runtimeClass;
    static inline int live = 0;
    Holder() { ++live; }
    Holder(const Holder&) = delete;
    ~Holder() override { --live; }
    const CRuntimeClass* GetRuntimeClass() const override { return &runtimeClass; }
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring()) {
            ar.WriteCount(static_cast<std::uint32_t>(refs.size()));
            for (const CObject* r : refs) {
                ar.WriteObject(r);
            }
        } else {
            schemaBefore = ar.GetObjectSchema();
            const std::uint32_t n = ar.ReadCount();
            for (std::uint32_t i = 0; i < n; ++i) {
                std::unique_ptr<CObject> created;
                refs.push_back(ar.ReadObject(created));
                if (created) {
                    owned.push_back(std::move(created));
                }
            }
            schemaAfter = ar.GetObjectSchema();
        }
    }
    std::vector<CObject*> refs;
    std::vector<std::unique_ptr<CObject>> owned;
    std::uint32_t schemaBefore = 0xDEAD;
    std::uint32_t schemaAfter = 0xDEAD;
};
const CRuntimeClass Holder::runtimeClass = {
    "Holder", VERSIONABLE_SCHEMA | 0,
    []() -> std::unique_ptr<CObject> { return std::make_unique<Holder>(); }};

// A class with a fixed schema, as the live server class has.
class Fixed : public CObject {
  public:
    static const CRuntimeClass runtimeClass;
    const CRuntimeClass* GetRuntimeClass() const override { return &runtimeClass; }
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring()) {
            ar.WriteDWord(1);
        } else {
            ar.ReadDWord();
        }
    }
};
const CRuntimeClass Fixed::runtimeClass = {
    "Fixed", 1, []() -> std::unique_ptr<CObject> { return std::make_unique<Fixed>(); }};

// A final class, which WriteObjectOf takes.
class FinalLeaf final : public CObject {
  public:
    static const CRuntimeClass runtimeClass;
    explicit FinalLeaf(std::int32_t v = 0) : value(v) {}
    const CRuntimeClass* GetRuntimeClass() const override { return &runtimeClass; }
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring()) {
            ar.WriteLong(value);
        } else {
            value = ar.ReadLong();
        }
    }
    std::int32_t value = 0;
};
const CRuntimeClass FinalLeaf::runtimeClass = {
    "FinalLeaf", VERSIONABLE_SCHEMA | 0,
    []() -> std::unique_ptr<CObject> { return std::make_unique<FinalLeaf>(); }};

// Registered, but cannot be created.
const CRuntimeClass abstractClass = {"Abstract", VERSIONABLE_SCHEMA | 0, nullptr};

const ClassRegistry& Registry() {
    static const ClassRegistry registry = [] {
        ClassRegistry r;
        r.Add(Leaf::runtimeClass);
        r.Add(Holder::runtimeClass);
        r.Add(Fixed::runtimeClass);
        r.Add(FinalLeaf::runtimeClass);
        r.Add(abstractClass);
        return r;
    }();
    return registry;
}

Bytes LeafRecord() {
    return Cat(B({0xFF, 0xFF, 0x00, 0x00, 0x04, 0x00}), Text("Leaf"));
}
Bytes HolderRecord() {
    return Cat(B({0xFF, 0xFF, 0x00, 0x00, 0x06, 0x00}), Text("Holder"));
}

CArchiveException::Cause CauseOf(const std::function<void()>& run) {
    try {
        run();
    } catch (const CArchiveException& e) {
        return e.GetCause();
    }
    ADD_FAILURE() << "no archive exception";
    return CArchiveException::generic;
}

CArchiveException::Cause LoadCause(const Bytes& bytes, const std::function<void(CArchive&)>& read) {
    CArchive ar(bytes, Registry());
    return CauseOf([&] { read(ar); });
}

void ReadOneObject(CArchive& ar) {
    std::unique_ptr<CObject> created;
    ar.ReadObject(created);
}

std::string StoreString(std::string_view s) {
    CArchive ar;
    ar.WriteString(s);
    CArchive in(ar.Bytes(), Registry());
    std::string back = in.ReadString();
    EXPECT_EQ(in.Remaining(), 0u);
    return back;
}

TEST(ArchivePrimitives, LittleEndianUnalignedAndRoundTrip) {
    CArchive ar;
    EXPECT_TRUE(ar.IsStoring());
    ar.WriteByte(0xAB);
    ar.WriteWord(0x1234);
    ar.WriteDWord(0x89ABCDEF);
    ar.WriteLong(-2);
    ar.WriteDouble(1.5);
    ar.WriteBool(true);
    ar.WriteBool(false);
    const Bytes expected = B({0xAB, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x89, 0xFE, 0xFF, 0xFF, 0xFF,
                              0,    0,    0,    0,    0,    0,    0xF8, 0x3F, 0x01, 0x00});
    EXPECT_EQ(ar.Bytes(), expected);

    Bytes input = expected;
    input[19] = 0x07;  // any non-zero byte is true
    CArchive in(input, Registry());
    EXPECT_TRUE(in.IsLoading());
    EXPECT_EQ(in.ReadByte(), 0xAB);
    EXPECT_EQ(in.ReadWord(), 0x1234);
    EXPECT_EQ(in.ReadDWord(), 0x89ABCDEFu);
    EXPECT_EQ(in.ReadLong(), -2);
    EXPECT_EQ(in.ReadDouble(), 1.5);
    EXPECT_TRUE(in.ReadBool());
    EXPECT_FALSE(in.ReadBool());
    EXPECT_EQ(in.Remaining(), 0u);
}

TEST(ArchivePrimitives, OutputGrowsAcrossBlocksAndIsGatheredInOrder) {
    // Enough output for several blocks, read back through Bytes() midway, VisitBytes() and
    // TakeBytes() at the end.
    CArchive ar;
    std::size_t midway = 0;
    for (std::uint32_t i = 0; i < 1'000'000; ++i) {
        ar.WriteDWord(i);
        if (i == 123'456) {
            midway = ar.Bytes().size();
        }
    }
    ar.WriteString(std::string(200'000, 's'));
    EXPECT_EQ(midway, 123'457u * 4);
    Bytes visited;
    std::size_t pieces = 0;
    ar.VisitBytes([&](std::span<const std::uint8_t> piece) {
        visited.insert(visited.end(), piece.begin(), piece.end());
        ++pieces;
    });
    EXPECT_GT(pieces, 2u);
    const Bytes taken = ar.TakeBytes();
    EXPECT_EQ(visited, taken);
    ASSERT_EQ(taken.size(), 4'000'000u + 7 + 200'000);
    CArchive in(taken, Registry());
    for (std::uint32_t i = 0; i < 1'000'000; ++i) {
        ASSERT_EQ(in.ReadDWord(), i);
    }
    EXPECT_EQ(in.ReadString(), std::string(200'000, 's'));
    // After TakeBytes the archive starts a fresh output.
    ar.WriteByte(9);
    EXPECT_EQ(ar.Bytes(), B({9}));
}

TEST(ArchivePrimitives, ClaimedAndTakenRunsMatchSingleValues) {
    const auto singles = [](CArchive& ar) {
        ar.WriteByte(0xAB);
        ar.WriteBool(true);
        ar.WriteWord(0x1234);
        ar.WriteDWord(0x89ABCDEF);
        ar.WriteLong(-2);
        ar.WriteDouble(1.5);
    };
    constexpr std::size_t kRun = 1 + 1 + 2 + 4 + 4 + 8;
    // Runs straddling the end of the first output block land in the next one whole.
    const std::string filler(64 * 1024 - 7, 'f');
    CArchive one;
    one.WriteString(filler);
    singles(one);
    singles(one);
    CArchive packed;
    packed.WriteString(filler);
    for (int i = 0; i < 2; ++i) {
        CArchive::Packer out = packed.Claim(kRun);
        out.Byte(0xAB);
        out.Bool(true);
        out.Word(0x1234);
        out.DWord(0x89ABCDEF);
        out.Long(-2);
        out.Double(1.5);
    }
    ASSERT_EQ(packed.Bytes(), one.Bytes());

    CArchive in(one.Bytes(), Registry());
    EXPECT_EQ(in.ReadString(), filler);
    for (int i = 0; i < 2; ++i) {
        CArchive::Unpacker run = in.Take(kRun);
        EXPECT_EQ(run.Byte(), 0xAB);
        EXPECT_TRUE(run.Bool());
        EXPECT_EQ(run.Word(), 0x1234);
        EXPECT_EQ(run.DWord(), 0x89ABCDEFu);
        EXPECT_EQ(run.Long(), -2);
        EXPECT_EQ(run.Double(), 1.5);
    }
    EXPECT_EQ(in.Remaining(), 0u);

    // A run longer than the input is the end of the file, and takes nothing.
    const Bytes five = B({1, 2, 3, 4, 5});
    CArchive shortInput(five, Registry());
    EXPECT_EQ(CauseOf([&] { shortInput.Take(6); }), CArchiveException::endOfFile);
    EXPECT_EQ(shortInput.Remaining(), 5u);
    EXPECT_EQ(shortInput.Take(1).Byte(), 1);

    // Each direction refuses the other's run.
    EXPECT_EQ(CauseOf([&] { shortInput.Claim(1); }), CArchiveException::readOnly);
    CArchive storing;
    EXPECT_EQ(CauseOf([&] { storing.Take(1); }), CArchiveException::writeOnly);
}

TEST(ArchivePrimitives, OutputMemoryOfEarlierArchivesNeverShowsThrough) {
    // Archives one after the other, each shorter than the one before and each with its own
    // bytes: output blocks kept from an earlier archive carry its bytes, which must not appear
    // in a later one's output.
    for (int round = 0; round < 4; ++round) {
        const std::uint32_t words = 900'000 - 200'000 * static_cast<std::uint32_t>(round);
        CArchive ar;
        for (std::uint32_t i = 0; i < words; ++i) {
            ar.WriteDWord(i * 2654435761u + static_cast<std::uint32_t>(round));
        }
        Bytes visited;
        ar.VisitBytes([&](std::span<const std::uint8_t> piece) {
            visited.insert(visited.end(), piece.begin(), piece.end());
        });
        ASSERT_EQ(visited.size(), std::size_t{words} * 4) << round;
        CArchive in(visited, Registry());
        for (std::uint32_t i = 0; i < words; ++i) {
            ASSERT_EQ(in.ReadDWord(), i * 2654435761u + static_cast<std::uint32_t>(round))
                << round << " " << i;
        }
    }
}

TEST(ArchiveStrings, PrefixFormsOnWriting) {
    const auto prefixOf = [](std::size_t n) {
        CArchive ar;
        ar.WriteString(std::string(n, 'x'));
        const Bytes& b = ar.Bytes();
        for (std::size_t i = b.size() - n; i < b.size(); ++i) {
            if (b[i] != 'x') {
                ADD_FAILURE() << "payload damaged at " << i;
                break;
            }
        }
        return Bytes(b.begin(), b.end() - static_cast<std::ptrdiff_t>(n));
    };
    EXPECT_EQ(prefixOf(0), B({0x00}));
    EXPECT_EQ(prefixOf(254), B({0xFE}));
    EXPECT_EQ(prefixOf(255), B({0xFF, 0xFF, 0x00}));
    EXPECT_EQ(prefixOf(65533), B({0xFF, 0xFD, 0xFF}));
    EXPECT_EQ(prefixOf(65534), B({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}));
    EXPECT_EQ(prefixOf(70000), B({0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}));

    for (const std::size_t n : {0, 1, 254, 255, 65533, 65534, 65535, 70000}) {
        std::string s(n, 'a');
        for (std::size_t i = 0; i < n; ++i) {
            s[i] = static_cast<char>('a' + i % 26);
        }
        EXPECT_EQ(StoreString(s), s) << n;
    }
    EXPECT_EQ(StoreString("gr\xC3\xBC\xC3\x9F"), "gr\xC3\xBC\xC3\x9F");  // bytes kept as they are
}

TEST(ArchiveStrings, ReadsEveryPrefixFormAndTheWideForm) {
    const auto read = [](const Bytes& b) {
        CArchive ar(b, Registry());
        std::string s = ar.ReadString();
        EXPECT_EQ(ar.Remaining(), 0u);
        return s;
    };
    // The 64-bit form, which the writer only uses for 4294967295 bytes, is read for any length.
    EXPECT_EQ(read(Cat(B({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0, 0, 0, 0, 0}),
                       Text("abc"))),
              "abc");
    EXPECT_EQ(read(Cat(B({0xFF, 0xFF, 0xFF, 2, 0, 0, 0}), Text("ab"))), "ab");
    EXPECT_EQ(read(Cat(B({0xFF, 2, 0}), Text("ab"))), "ab");

    EXPECT_EQ(read(B({0xFF, 0xFE, 0xFF, 0x02, 0x61, 0x00, 0x62, 0x00})), "ab");
    // Non-ASCII and a surrogate pair become UTF-8.
    EXPECT_EQ(read(B({0xFF, 0xFE, 0xFF, 0x03, 0xE9, 0x00, 0x3D, 0xD8, 0x00, 0xDE})),
              "\xC3\xA9\xF0\x9F\x98\x80");
    // Wide strings with the word and double-word length forms.
    Bytes wide300 = B({0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01});
    Bytes wide3 = B({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0});
    for (int i = 0; i < 300; ++i) {
        wide300.insert(wide300.end(), {'z', 0});
    }
    wide3.insert(wide3.end(), {'x', 0, 'y', 0, 'z', 0});
    EXPECT_EQ(read(wide300), std::string(300, 'z'));
    EXPECT_EQ(read(wide3), "xyz");
    // After the wide marker, 0xFFFE is a plain length.
    Bytes wideFFFE = B({0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF});
    wideFFFE.resize(wideFFFE.size() + 2 * 0xFFFE, 0);
    EXPECT_EQ(read(wideFFFE).size(), 0xFFFEu);
}

TEST(ArchiveStrings, LengthsAreCheckedBeforeAnythingIsAllocated) {
    using C = CArchiveException;
    // Four-billion claims: only the claim is there.
    const Bytes claims[] = {
        B({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 'a'}),
        B({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 'a', 0}),
        B({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0}),
        B({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0,
           0, 0}),
    };
    for (const Bytes& claim : claims) {
        const std::size_t largest = LargestAllocationDuring([&] {
            EXPECT_EQ(LoadCause(claim, [](CArchive& ar) { ar.ReadString(); }), C::endOfFile);
        });
        EXPECT_LT(largest, std::size_t{1} << 20);
    }
    // A wide string needs two bytes a character: three bytes are not enough for two.
    EXPECT_EQ(
        LoadCause(B({0xFF, 0xFE, 0xFF, 0x02, 'a', 0, 'b'}), [](CArchive& ar) { ar.ReadString(); }),
        C::endOfFile);
    // A 64-bit length beyond the non-negative 32-bit range is the generic error.
    EXPECT_EQ(LoadCause(B({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x80, 0, 0, 0, 0}),
                        [](CArchive& ar) { ar.ReadString(); }),
              C::generic);
}

TEST(ArchiveCounts, WordAndEscapedForms) {
    CArchive ar;
    ar.WriteCount(3);
    ar.WriteCount(65534);
    ar.WriteCount(65535);
    ar.WriteCount(0x12345678);
    EXPECT_EQ(ar.Bytes(), B({0x03, 0x00, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF,
                             0x78, 0x56, 0x34, 0x12}));
    CArchive in(ar.Bytes(), Registry());
    EXPECT_EQ(in.ReadCount(), 3u);
    EXPECT_EQ(in.ReadCount(), 65534u);
    EXPECT_EQ(in.ReadCount(), 65535u);
    EXPECT_EQ(in.ReadCount(), 0x12345678u);
}

TEST(ArchiveObjects, ClassRecordsTagsAndBackReferences) {
    Leaf a(7);
    Leaf b(-1);
    Holder h;
    h.refs = {&a, nullptr, &b};
    CArchive ar;
    ar.WriteObject(&a);
    ar.WriteObject(&b);
    ar.WriteObject(&a);
    ar.WriteObject(nullptr);
    ar.WriteObject(&h);
    const Bytes expected =
        Cat(Cat(Cat(LeafRecord(),
                    B({7, 0, 0, 0, 0x01, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00})),
                HolderRecord()),
            B({0x03, 0x00, 0x02, 0x00, 0x00, 0x00, 0x03, 0x00}));
    EXPECT_EQ(ar.Bytes(), expected);

    {
        CArchive in(ar.Bytes(), Registry());
        std::unique_ptr<CObject> first;
        std::unique_ptr<CObject> second;
        std::unique_ptr<CObject> none;
        std::unique_ptr<CObject> holder;
        CObject* const r1 = in.ReadObject(first);
        CObject* const r2 = in.ReadObject(second);
        EXPECT_TRUE(r1 != nullptr && r1 == first.get());
        EXPECT_TRUE(r2 != nullptr && r2 == second.get());
        EXPECT_EQ(in.ReadObject(none), first.get());  // the same object, not a copy
        EXPECT_EQ(none, nullptr);
        EXPECT_EQ(in.ReadObject(none), nullptr);
        in.ReadObject(holder);
        auto* ha = dynamic_cast<Leaf*>(first.get());
        auto* hb = dynamic_cast<Leaf*>(second.get());
        auto* hh = dynamic_cast<Holder*>(holder.get());
        ASSERT_TRUE(ha && hb && hh);
        EXPECT_EQ(ha->value, 7);
        EXPECT_EQ(hb->value, -1);
        EXPECT_EQ(hh->refs, (std::vector<CObject*>{ha, nullptr, hb}));
        EXPECT_TRUE(hh->owned.empty());
        EXPECT_EQ(in.Remaining(), 0u);
    }
    EXPECT_EQ(Leaf::live, 2);
    EXPECT_EQ(Holder::live, 1);
}

TEST(ArchiveObjects, ArchivesStoringAtOnceOrInTurnKeepTheirOwnIndexes) {
    Leaf a(1);
    Leaf b(2);
    const Bytes expected =
        Cat(LeafRecord(), B({1, 0, 0, 0, 0x01, 0x80, 2, 0, 0, 0, 0x03, 0x00, 0x02, 0x00}));
    {
        CArchive first;
        first.WriteObject(&a);
        {
            CArchive second;
            second.WriteObject(&b);
            second.WriteObject(&a);
            first.WriteObject(&b);
            second.WriteObject(&a);
            second.WriteObject(&b);
            EXPECT_EQ(
                second.Bytes(),
                Cat(LeafRecord(), B({2, 0, 0, 0, 0x01, 0x80, 1, 0, 0, 0, 0x03, 0x00, 0x02, 0x00})));
        }
        first.WriteObject(&b);
        first.WriteObject(&a);
        EXPECT_EQ(first.Bytes(), expected);
    }
    // A later archive does not take the objects for ones it has written already.
    for (int round = 0; round < 2; ++round) {
        CArchive later;
        later.WriteObject(&a);
        later.WriteObject(&b);
        later.WriteObject(&b);
        later.WriteObject(&a);
        EXPECT_EQ(later.Bytes(), expected);
    }
    // A copy is an object of its own.
    Fixed f;
    CArchive ar;
    ar.WriteObject(&f);
    const Fixed copy(f);
    Fixed assigned;
    ar.WriteObject(&assigned);
    assigned = f;
    ar.WriteObject(&copy);
    ar.WriteObject(&assigned);
    ar.WriteObject(&f);
    EXPECT_EQ(ar.Bytes(), Cat(Cat(B({0xFF, 0xFF, 0x01, 0x00, 0x05, 0x00}), Text("Fixed")),
                              B({1,    0,    0, 0, 0x01, 0x80, 1,    0,    0,    0,
                                 0x01, 0x80, 1, 0, 0,    0,    0x03, 0x00, 0x02, 0x00})));
}

TEST(ArchiveObjects, ClassesAloneAndReadNew) {
    CArchive ar;
    Leaf a(5);
    ar.WriteClass(Leaf::runtimeClass);
    ar.WriteObject(&a);
    ar.WriteClass(Leaf::runtimeClass);
    EXPECT_EQ(ar.Bytes(), Cat(LeafRecord(), B({0x01, 0x80, 5, 0, 0, 0, 0x01, 0x80})));
    CArchive in(ar.Bytes(), Registry());
    EXPECT_EQ(&in.ReadClass(), &Leaf::runtimeClass);
    const std::unique_ptr<Leaf> leaf = in.ReadNew<Leaf>();
    EXPECT_EQ(leaf->value, 5);
    EXPECT_EQ(&in.ReadClass(), &Leaf::runtimeClass);
}

TEST(ArchiveObjects, WriteObjectOfWritesWhatWriteObjectWrites) {
    FinalLeaf f1(1);
    FinalLeaf f2(2);
    Leaf other(3);
    const auto generic = [&](CArchive& ar) {
        ar.WriteObject(&f1);
        ar.WriteObject(&other);
        ar.WriteObject(&f2);
        ar.WriteObject(&f1);
        ar.WriteObject(&f2);
    };
    const auto typed = [&](CArchive& ar) {
        ar.WriteObjectOf(f1);
        ar.WriteObject(&other);
        ar.WriteObjectOf(f2);
        ar.WriteObjectOf(f1);
        ar.WriteObjectOf(f2);
    };
    CArchive expected;
    generic(expected);
    {
        // One archive at a time (object marks), and one beside another (the object map).
        CArchive alone;
        typed(alone);
        EXPECT_EQ(alone.Bytes(), expected.Bytes());
    }
    CArchive holdsTheMarks;
    CArchive beside;
    typed(beside);
    EXPECT_EQ(beside.Bytes(), expected.Bytes());

    CArchive in(expected.Bytes(), Registry());
    EXPECT_EQ(in.ReadNew<FinalLeaf>()->value, 1);

    CArchive loading(expected.Bytes(), Registry());
    EXPECT_EQ(CauseOf([&] { loading.WriteObjectOf(f1); }), CArchiveException::readOnly);
}

TEST(ArchiveObjects, ReadNewIntoFillsAnObjectInPlace) {
    using C = CArchiveException;
    Leaf a(11);
    Leaf b(12);
    CArchive ar;
    ar.WriteObject(&a);
    ar.WriteObject(&b);
    ar.WriteObject(&b);  // a reference to an object read in place
    const int liveBefore = Leaf::live;
    {
        CArchive in(ar.Bytes(), Registry());
        Leaf x;
        Leaf y;
        in.ReadNewInto(x);
        in.ReadNewInto(y);
        EXPECT_EQ(x.value, 11);
        EXPECT_EQ(y.value, 12);
        EXPECT_EQ(Leaf::live, liveBefore + 2);  // nothing created besides x and y
        // The object may have moved since: the archive cannot name it again.
        EXPECT_EQ(CauseOf([&] { ReadOneObject(in); }), C::badIndex);
    }

    const Bytes leaf = Cat(LeafRecord(), B({1, 0, 0, 0}));  // class 1, object 2
    const auto readInto = [](CArchive& in) {
        Leaf target;
        in.ReadNewInto(target);
    };
    EXPECT_EQ(LoadCause(B({0, 0}), readInto), C::badClass);       // the null reference
    EXPECT_EQ(LoadCause(B({5, 0}), readInto), C::badIndex);       // nothing under index 5
    EXPECT_EQ(LoadCause(HolderRecord(), readInto), C::badClass);  // another class
    EXPECT_EQ(LoadCause(Cat(leaf, B({0x02, 0x00})),
                        [&](CArchive& in) {
                            const auto first = in.ReadNew<Leaf>();
                            readInto(in);  // an earlier object, not a new one
                        }),
              C::badClass);
    EXPECT_EQ(LoadCause(B({0xFF, 0xFF, 0, 0, 4, 0, 'L', 'e', 'a', 'f', 1, 0}), readInto),
              C::endOfFile);

    // An image that fails after reading a nested object: the nested object goes with its
    // owner, and a later reference to it is a bad index.
    const Bytes nested =
        Cat(Cat(Cat(HolderRecord(), B({0x02, 0x00})), Cat(LeafRecord(), B({4, 0, 0, 0}))),
            Cat(Cat(B({0xFF, 0xFF, 0x00, 0x00, 0x04, 0x00}), Text("Nope")), B({0x04, 0x00})));
    CArchive in(nested, Registry());
    {
        Holder holder;
        EXPECT_EQ(CauseOf([&] { in.ReadNewInto(holder); }), C::badClass);
    }
    EXPECT_EQ(CauseOf([&] { ReadOneObject(in); }), C::badIndex);
    EXPECT_EQ(Leaf::live, liveBefore);
}

TEST(ArchiveObjects, BigTagsPastIndex7FFF) {
    // 40,000 leaves push the indexes past 0x7FFF; then a second class is introduced at a big
    // index, a further object of it needs a big class tag, and back references need big tags.
    constexpr int kLeaves = 40000;
    std::vector<std::unique_ptr<Leaf>> leaves;
    for (int i = 0; i < kLeaves; ++i) {
        leaves.push_back(std::make_unique<Leaf>(i * 3));
    }
    Holder h1;
    Holder h2;
    CArchive ar;
    for (const auto& l : leaves) {
        ar.WriteObject(l.get());
    }
    const std::size_t holdersAt = ar.Bytes().size();
    ar.WriteObject(&h1);  // class Holder gets 40002, h1 40003
    ar.WriteObject(&h2);  // big class tag for 40002
    ar.WriteObject(leaves[0].get());
    ar.WriteObject(leaves[0x7FFC].get());  // index 0x7FFE: the last small tag
    ar.WriteObject(leaves[0x7FFD].get());  // index 0x7FFF: big tag
    ar.WriteObject(leaves[kLeaves - 1].get());
    ar.WriteObject(&h1);
    const Bytes tail(ar.Bytes().begin() + static_cast<std::ptrdiff_t>(holdersAt), ar.Bytes().end());
    const Bytes expected =
        Cat(HolderRecord(),
            B({0x00, 0x00,                                      // h1: empty list
               0xFF, 0x7F, 0x42, 0x9C, 0x00, 0x80, 0x00, 0x00,  // h2: class 40002, empty list
               0x02, 0x00,                                      // leaf 0
               0xFE, 0x7F,                                      // leaf at index 0x7FFE
               0xFF, 0x7F, 0xFF, 0x7F, 0x00, 0x00,              // leaf at index 0x7FFF
               0xFF, 0x7F, 0x41, 0x9C, 0x00, 0x00,              // last leaf, index 40001
               0xFF, 0x7F, 0x43, 0x9C, 0x00, 0x00}));           // h1 again, index 40003
    EXPECT_EQ(tail, expected);

    CArchive in(ar.Bytes(), Registry());
    std::vector<std::unique_ptr<CObject>> read(kLeaves);
    for (int i = 0; i < kLeaves; ++i) {
        in.ReadObject(read[i]);
        const auto* leaf = dynamic_cast<const Leaf*>(read[i].get());
        ASSERT_NE(leaf, nullptr);
        ASSERT_EQ(leaf->value, i * 3);
    }
    const std::unique_ptr<Holder> r1 = in.ReadNew<Holder>();
    const std::unique_ptr<Holder> r2 = in.ReadNew<Holder>();
    std::unique_ptr<CObject> none;
    EXPECT_EQ(in.ReadObject(none), read[0].get());
    EXPECT_EQ(in.ReadObject(none), read[0x7FFC].get());
    EXPECT_EQ(in.ReadObject(none), read[0x7FFD].get());
    EXPECT_EQ(in.ReadObject(none), read[kLeaves - 1].get());
    EXPECT_EQ(in.ReadObject(none), r1.get());
    EXPECT_EQ(in.Remaining(), 0u);
}

TEST(ArchiveObjects, SchemaRules) {
    using C = CArchiveException;
    const auto record = [](std::string_view name, int schema) {
        return Cat(B({0xFF, 0xFF, schema, 0x00, static_cast<int>(name.size()), 0x00}), Text(name));
    };
    // A versionable class stored with another schema is accepted, and its objects see it.
    {
        const Bytes b =
            Cat(record("Holder", 5), Cat(B({0x01, 0x00}), Cat(record("Leaf", 3), B({9, 0, 0, 0}))));
        CArchive in(b, Registry());
        const std::unique_ptr<Holder> h = in.ReadNew<Holder>();
        EXPECT_EQ(h->schemaBefore, 5u);
        EXPECT_EQ(h->schemaAfter, 5u);
        ASSERT_EQ(h->owned.size(), 1u);
        EXPECT_EQ(static_cast<Leaf&>(*h->owned[0]).seenSchema, 3u);
        EXPECT_EQ(static_cast<Leaf&>(*h->owned[0]).value, 9);
    }
    // With the declared schema, the declared one is reported.
    {
        const Bytes b = Cat(record("Leaf", 0), B({9, 0, 0, 0}));
        CArchive in(b, Registry());
        EXPECT_EQ(in.ReadNew<Leaf>()->seenSchema, 0u);
    }
    // A fixed schema must match.
    {
        const Bytes b = Cat(record("Fixed", 1), B({1, 0, 0, 0}));
        CArchive in(b, Registry());
        EXPECT_TRUE(in.ReadNew<Fixed>() != nullptr);
    }
    EXPECT_EQ(LoadCause(Cat(record("Fixed", 2), B({1, 0, 0, 0})), ReadOneObject), C::badSchema);
    EXPECT_EQ(LoadCause(Cat(record("Fixed", 0), B({1, 0, 0, 0})), ReadOneObject), C::badSchema);
}

TEST(ArchiveErrors, DirectionErrors) {
    using C = CArchiveException;
    const Bytes some = B({1, 2, 3, 4, 5, 6, 7, 8});
    const std::function<void(CArchive&)> writes[] = {
        [](CArchive& ar) { ar.WriteByte(1); },         [](CArchive& ar) { ar.WriteBool(true); },
        [](CArchive& ar) { ar.WriteWord(1); },         [](CArchive& ar) { ar.WriteDWord(1); },
        [](CArchive& ar) { ar.WriteLong(1); },         [](CArchive& ar) { ar.WriteDouble(1); },
        [](CArchive& ar) { ar.WriteString(""); },      [](CArchive& ar) { ar.WriteCount(1); },
        [](CArchive& ar) { ar.WriteObject(nullptr); },
    };
    for (const auto& write : writes) {
        EXPECT_EQ(LoadCause(some, write), C::readOnly);
    }
    EXPECT_EQ(LoadCause(some, [](CArchive& ar) { ar.WriteClass(Leaf::runtimeClass); }), C::generic);

    const std::function<void(CArchive&)> reads[] = {
        [](CArchive& ar) { ar.ReadByte(); },
        [](CArchive& ar) { ar.ReadBool(); },
        [](CArchive& ar) { ar.ReadWord(); },
        [](CArchive& ar) { ar.ReadDWord(); },
        [](CArchive& ar) { ar.ReadLong(); },
        [](CArchive& ar) { ar.ReadDouble(); },
        [](CArchive& ar) { ar.ReadString(); },
        [](CArchive& ar) { ar.ReadCount(); },
        ReadOneObject,
        [](CArchive& ar) { ar.ReadClass(); },
        [](CArchive& ar) { ar.ReadNew<Leaf>(); },
    };
    for (const auto& read : reads) {
        CArchive ar;
        EXPECT_EQ(CauseOf([&] { read(ar); }), C::writeOnly);
        EXPECT_TRUE(ar.Bytes().empty());
    }
}

TEST(ArchiveErrors, EndOfFileAnywhere) {
    using C = CArchiveException;
    Leaf leaf(42);
    CArchive ar;
    ar.WriteByte(1);
    ar.WriteWord(2);
    ar.WriteDWord(3);
    ar.WriteDouble(4);
    ar.WriteString("five");
    ar.WriteString(std::string(300, '6'));
    ar.WriteCount(70000);
    ar.WriteObject(&leaf);
    const Bytes full = ar.Bytes();
    const std::size_t nameAt = full.size() - 4 - 4;  // "Leaf", then the value
    const auto readAll = [](CArchive& in) {
        in.ReadByte();
        in.ReadWord();
        in.ReadDWord();
        in.ReadDouble();
        in.ReadString();
        in.ReadString();
        in.ReadCount();
        EXPECT_TRUE(in.ReadNew<Leaf>() != nullptr);
    };
    {
        CArchive in(full, Registry());
        readAll(in);
        EXPECT_EQ(in.Remaining(), 0u);
    }
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
        const Bytes shortened(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
        // A class name cut short is a bad class; every other value cut short is the end.
        const C::Cause expected = (cut >= nameAt && cut < nameAt + 4) ? C::badClass : C::endOfFile;
        EXPECT_EQ(LoadCause(shortened, readAll), expected) << "cut at " << cut;
    }
    EXPECT_EQ(Leaf::live, 1);
}

TEST(ArchiveErrors, BadIndexes) {
    using C = CArchiveException;
    const Bytes leaf = Cat(LeafRecord(), B({1, 0, 0, 0}));  // class 1, object 2
    const auto after = [&](std::initializer_list<int> tag) { return Cat(leaf, B(tag)); };
    const auto twoReads = [](CArchive& ar) {
        const std::unique_ptr<Leaf> first = ar.ReadNew<Leaf>();
        ReadOneObject(ar);
    };
    EXPECT_EQ(LoadCause(B({0x05, 0x00}), ReadOneObject), C::badIndex);  // index not yet assigned
    EXPECT_EQ(LoadCause(after({0x03, 0x00}), twoReads), C::badIndex);
    EXPECT_EQ(LoadCause(after({0x01, 0x00}), twoReads), C::badIndex);  // a class, not an object
    EXPECT_EQ(LoadCause(after({0x02, 0x80, 0, 0, 0, 0}), twoReads), C::badIndex);  // an object
    EXPECT_EQ(LoadCause(after({0x00, 0x80, 0, 0, 0, 0}), twoReads), C::badIndex);  // class 0
    EXPECT_EQ(LoadCause(after({0x03, 0x80, 0, 0, 0, 0}), twoReads), C::badIndex);
    EXPECT_EQ(LoadCause(after({0xFF, 0x7F, 0x03, 0, 0, 0}), twoReads), C::badIndex);
    EXPECT_EQ(LoadCause(after({0xFF, 0x7F, 0x03, 0, 0, 0x80}), twoReads), C::badIndex);
    EXPECT_EQ(LoadCause(after({0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF}), twoReads), C::badIndex);
    EXPECT_EQ(LoadCause(B({0x02, 0x00}), [](CArchive& ar) { ar.ReadClass(); }), C::badIndex);
    // The big tag also reaches small indexes.
    {
        const Bytes b =
            after({0xFF, 0x7F, 0x02, 0, 0, 0, 0xFF, 0x7F, 0x01, 0, 0, 0x80, 8, 0, 0, 0});
        CArchive in(b, Registry());
        std::unique_ptr<CObject> first;
        std::unique_ptr<CObject> none;
        std::unique_ptr<CObject> third;
        in.ReadObject(first);
        EXPECT_EQ(in.ReadObject(none), first.get());
        in.ReadObject(third);
        EXPECT_EQ(dynamic_cast<Leaf&>(*third).value, 8);
    }
}

TEST(ArchiveErrors, IndexTableFull) {
    using C = CArchiveException;
    EXPECT_EQ(CArchive::kMaxMapCount, 0x3FFFFFFEu);
    // With room for three entries besides 0, a class and two objects fit; a third does not.
    Leaf a(1);
    Leaf b(2);
    Leaf c(3);
    CArchive ar;
    CArchiveTestAccess::SetMaxMapCount(ar, 4);
    ar.WriteObject(&a);
    ar.WriteObject(&b);
    ar.WriteObject(&a);
    const std::size_t before = ar.Bytes().size();
    EXPECT_EQ(CauseOf([&] { ar.WriteObject(&c); }), C::badIndex);
    EXPECT_EQ(CauseOf([&] { ar.WriteClass(Holder::runtimeClass); }), C::badIndex);
    EXPECT_EQ(ar.Bytes().size(), before + 2);  // the class tag of c, nothing of Holder

    // Read back, the third leaf finds the table full before its image is read.
    CArchive in(ar.Bytes(), Registry());
    CArchiveTestAccess::SetMaxMapCount(in, 4);
    const auto first = in.ReadNew<Leaf>();
    const auto second = in.ReadNew<Leaf>();
    std::unique_ptr<CObject> none;
    EXPECT_EQ(in.ReadObject(none), first.get());
    EXPECT_EQ(CauseOf([&] { in.ReadNew<Leaf>(); }), C::badIndex);
    EXPECT_EQ(Leaf::live, 5);

    const Bytes one = Cat(LeafRecord(), B({3, 0, 0, 0}));
    CArchive full(one, Registry());
    CArchiveTestAccess::SetMaxMapCount(full, 1);
    EXPECT_EQ(CauseOf([&] { ReadOneObject(full); }), C::badIndex);  // no room for the class
}

TEST(ArchiveErrors, BadClasses) {
    using C = CArchiveException;
    const auto record = [](std::string_view name) {
        return Cat(B({0xFF, 0xFF, 0x00, 0x00, static_cast<int>(name.size()), 0x00}), Text(name));
    };
    EXPECT_EQ(LoadCause(record("Unknown"), ReadOneObject), C::badClass);
    EXPECT_EQ(LoadCause(record("leaf"), ReadOneObject), C::badClass);  // case-sensitive
    EXPECT_EQ(LoadCause(record(std::string(64, 'L')), ReadOneObject), C::badClass);
    EXPECT_EQ(LoadCause(record(""), ReadOneObject), C::badClass);
    EXPECT_EQ(LoadCause(record("Abstract"), ReadOneObject), C::badClass);

    // The writer refuses names the reader could not take.
    const std::string name64(64, 'N');
    const CRuntimeClass longName = {name64, 0, nullptr};
    CArchive ar;
    EXPECT_EQ(CauseOf([&] { ar.WriteClass(longName); }), C::badClass);
    EXPECT_TRUE(ar.Bytes().empty());

    // ReadNew takes only a new object of the class asked for.
    const Bytes leaf = Cat(LeafRecord(), B({1, 0, 0, 0}));
    EXPECT_EQ(LoadCause(B({0, 0}), [](CArchive& in) { in.ReadNew<Leaf>(); }), C::badClass);
    EXPECT_EQ(LoadCause(Cat(leaf, B({0x02, 0x00})),
                        [](CArchive& in) {
                            const auto first = in.ReadNew<Leaf>();
                            in.ReadNew<Leaf>();
                        }),
              C::badClass);
    EXPECT_EQ(LoadCause(leaf, [](CArchive& in) { in.ReadNew<Holder>(); }), C::badClass);
    EXPECT_EQ(Leaf::live, 0);
}

TEST(ArchiveErrors, RefusedObjectsAreDestroyedAndForgotten) {
    using C = CArchiveException;
    // ReadNew refuses another class before reading anything of its image.
    EXPECT_EQ(LoadCause(HolderRecord(), [](CArchive& in) { in.ReadNew<Leaf>(); }), C::badClass);
    EXPECT_EQ(Holder::live, 0);

    // A holder (index 2) whose image fails after it read a leaf (index 4): both are destroyed,
    // and references to them afterwards are bad indexes, not dangling pointers.
    const Bytes b =
        Cat(Cat(Cat(HolderRecord(), B({0x02, 0x00})), Cat(LeafRecord(), B({4, 0, 0, 0}))),
            Cat(Cat(B({0xFF, 0xFF, 0x00, 0x00, 0x04, 0x00}), Text("Nope")),
                B({0x02, 0x00, 0x04, 0x00})));
    CArchive in(b, Registry());
    EXPECT_EQ(CauseOf([&] { ReadOneObject(in); }), C::badClass);
    EXPECT_EQ(Holder::live, 0);
    EXPECT_EQ(Leaf::live, 0);
    EXPECT_EQ(CauseOf([&] { ReadOneObject(in); }), C::badIndex);
    EXPECT_EQ(CauseOf([&] { ReadOneObject(in); }), C::badIndex);

    // Objects nested without end are refused before the stack runs out.
    Bytes nested = Cat(HolderRecord(), B({0x01, 0x00}));
    for (int i = 0; i < 100000; ++i) {
        nested.insert(nested.end(), {0x01, 0x80, 0x01, 0x00});
    }
    EXPECT_EQ(LoadCause(nested, ReadOneObject), C::badClass);
    EXPECT_EQ(Holder::live, 0);
}

TEST(ArchiveRegistry, FindsExactNamesAndRefusesAmbiguity) {
    ClassRegistry r;
    r.Add(Leaf::runtimeClass);
    r.Add(Leaf::runtimeClass);
    EXPECT_EQ(r.Find("Leaf"), &Leaf::runtimeClass);
    EXPECT_EQ(r.Find("LEAF"), nullptr);
    EXPECT_EQ(r.Find("Lea"), nullptr);
    const CRuntimeClass impostor = {"Leaf", 0, nullptr};
    EXPECT_THROW(r.Add(impostor), std::logic_error);
    EXPECT_EQ(r.Find("Leaf"), &Leaf::runtimeClass);
}

}  // namespace
