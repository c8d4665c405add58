#include "model/columns.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "model/archive.h"

// Defined in test_archive.cpp.
std::size_t LargestAllocationDuring(const std::function<void()>& run);

namespace {

using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& out, std::initializer_list<int> values) {
    for (const int v : values) {
        out.push_back(static_cast<std::uint8_t>(v));
    }
}

void AppendDWord(Bytes& out, std::uint32_t v) {
    Append(out, {static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                 static_cast<int>((v >> 16) & 0xFF), static_cast<int>(v >> 24)});
}

void AppendText(Bytes& out, std::string_view s) {
    out.insert(out.end(), s.begin(), s.end());
}

// One set's image: version, name with a one-byte length, kind, 32 widths.
void AppendSet(Bytes& out, std::string_view name, std::int32_t kind,
               std::initializer_list<std::int32_t> widths) {
    AppendDWord(out, 1);
    Append(out, {static_cast<int>(name.size())});
    AppendText(out, name);
    AppendDWord(out, static_cast<std::uint32_t>(kind));
    std::size_t i = 0;
    for (const std::int32_t w : widths) {
        AppendDWord(out, static_cast<std::uint32_t>(w));
        ++i;
    }
    for (; i < clColumn::kWidthCount; ++i) {
        AppendDWord(out, 0);
    }
}

const ClassRegistry& Registry() {
    static const ClassRegistry registry = [] {
        ClassRegistry r;
        r.Add(clColumn::runtimeClass);
        r.Add(clColumns::runtimeClass);
        return r;
    }();
    return registry;
}

Bytes Store(clColumns& columns) {
    CArchive ar;
    columns.Serialize(ar);
    return ar.TakeBytes();
}

CArchiveException::Cause LoadCause(const Bytes& bytes, clColumns& into) {
    CArchive ar(bytes, Registry());
    try {
        into.Serialize(ar);
    } catch (const CArchiveException& e) {
        return e.GetCause();
    }
    ADD_FAILURE() << "no archive exception";
    return CArchiveException::generic;
}

TEST(Columns, ClassesAreVersionableSchemaZero) {
    EXPECT_EQ(clColumn::runtimeClass.name, "clColumn");
    EXPECT_EQ(clColumns::runtimeClass.name, "clColumns");
    for (const CRuntimeClass* cls : {&clColumn::runtimeClass, &clColumns::runtimeClass}) {
        EXPECT_EQ(cls->SchemaWord(), 0);
        EXPECT_TRUE(cls->IsVersionable());
        const std::unique_ptr<CObject> obj = cls->create();
        EXPECT_EQ(obj->GetRuntimeClass(), cls);
    }
}

TEST(Columns, NewDocumentSetsByteForByte) {
    clColumns columns;
    columns.CreateDefaults();
    Bytes expected;
    AppendDWord(expected, 1);
    Append(expected, {3, 0});
    Append(expected, {0xFF, 0xFF, 0x00, 0x00, 0x08, 0x00});
    AppendText(expected, "clColumn");
    AppendSet(expected, "OPCGroup", 1, {200, 120, 90});
    Append(expected, {0x01, 0x80});
    AppendSet(expected, "OPCItem", 2, {200, 70, 100, 120, 80, 140, 90});
    Append(expected, {0x01, 0x80});
    AppendSet(expected, "Historical", 3, {70, 150, 80, 80, 230});
    EXPECT_EQ(Store(columns), expected);

    // A widened column lands in its set's width slot.
    columns.FindByKind(clColumn::kItemList)->widths[3] = 150;
    const Bytes widened = Store(columns);
    const std::size_t itemSet = 4 + 2 + 6 + 8 + (4 + 9 + 4 + 128) + 2;
    const std::size_t width3 = itemSet + 4 + 8 + 4 + 3 * 4;
    EXPECT_EQ(Bytes(widened.begin() + static_cast<std::ptrdiff_t>(width3),
                    widened.begin() + static_cast<std::ptrdiff_t>(width3 + 4)),
              (Bytes{150, 0, 0, 0}));
}

TEST(Columns, LoadingAppendsAndLookupTakesTheFirst) {
    clColumns source;
    source.CreateDefaults();
    auto second = std::make_unique<clColumn>("Second items", clColumn::kItemList);
    second->widths = {};
    second->widths[31] = -5;
    source.Add(std::move(second));
    const Bytes bytes = Store(source);

    clColumns target;
    target.Add(std::make_unique<clColumn>("held", 9));
    CArchive ar(bytes, Registry());
    target.Serialize(ar);
    EXPECT_EQ(ar.Remaining(), 0u);

    ASSERT_EQ(target.Sets().size(), 5u);
    EXPECT_EQ(target.Sets()[0]->name, "held");
    for (std::size_t i = 0; i < 4; ++i) {
        const clColumn& want = *source.Sets()[i];
        const clColumn& got = *target.Sets()[i + 1];
        EXPECT_EQ(got.name, want.name);
        EXPECT_EQ(got.kind, want.kind);
        EXPECT_EQ(got.widths, want.widths);
    }
    const clColumns& constTarget = target;
    EXPECT_EQ(constTarget.FindByKind(clColumn::kItemList)->name, "OPCItem");
    EXPECT_EQ(target.FindByKind(clColumn::kHistoryList)->widths[4], 230);
    EXPECT_EQ(target.FindByKind(9)->name, "held");
    EXPECT_EQ(target.FindByKind(4), nullptr);

    target.DeleteAll();
    EXPECT_TRUE(target.Sets().empty());
    EXPECT_EQ(target.FindByKind(clColumn::kGroupList), nullptr);
}

TEST(Columns, EmptyCountAndDamagedLists) {
    using C = CArchiveException;
    Bytes empty;
    AppendDWord(empty, 1);
    Append(empty, {0, 0});
    {
        clColumns columns;
        CArchive ar(empty, Registry());
        columns.Serialize(ar);
        EXPECT_TRUE(columns.Sets().empty());
    }

    // A list claiming four billion sets costs nothing until the sets are there.
    Bytes huge;
    AppendDWord(huge, 1);
    Append(huge, {0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF});
    {
        clColumns columns;
        const std::size_t largest =
            LargestAllocationDuring([&] { EXPECT_EQ(LoadCause(huge, columns), C::endOfFile); });
        EXPECT_LT(largest, std::size_t{1} << 20);
        EXPECT_TRUE(columns.Sets().empty());
    }

    // A set cut short: the complete sets before it stay, the broken one is gone.
    clColumns source;
    source.CreateDefaults();
    const Bytes full = Store(source);
    {
        clColumns columns;
        EXPECT_EQ(LoadCause(Bytes(full.begin(), full.end() - 1), columns), C::endOfFile);
        ASSERT_EQ(columns.Sets().size(), 2u);
        EXPECT_EQ(columns.Sets()[1]->name, "OPCItem");
    }

    // Entries that are not new column sets: a null reference, the same set twice, another
    // class.
    Bytes header;
    AppendDWord(header, 1);
    Append(header, {2, 0, 0xFF, 0xFF, 0x00, 0x00, 0x08, 0x00});
    AppendText(header, "clColumn");
    AppendSet(header, "A", 1, {});
    Bytes null = header;
    Append(null, {0x00, 0x00});
    Bytes twice = header;
    Append(twice, {0x02, 0x00});
    Bytes other;
    AppendDWord(other, 1);
    Append(other, {1, 0, 0xFF, 0xFF, 0x00, 0x00, 0x09, 0x00});
    AppendText(other, "clColumns");
    AppendDWord(other, 1);
    Append(other, {0, 0});
    for (const Bytes* bad : {&null, &twice, &other}) {
        clColumns columns;
        EXPECT_EQ(LoadCause(*bad, columns), C::badClass);
        for (const auto& set : columns.Sets()) {
            EXPECT_TRUE(set != nullptr);
        }
    }
}

}  // namespace
