// The server, group and item records: property texts, sorted lists and look-ups, and their
// archive images.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "model/archive.h"
#include "model/columns.h"
#include "model/group_record.h"
#include "model/history.h"
#include "model/item_record.h"
#include "model/model_classes.h"
#include "model/server_record.h"

namespace {

// Little-endian bytes as the archive lays them out, assembled by hand.
class Bytes {
  public:
    Bytes& U8(std::uint8_t v) {
        data_.push_back(v);
        return *this;
    }
    Bytes& U16(std::uint16_t v) { return U8(v & 0xFF).U8(static_cast<std::uint8_t>(v >> 8)); }
    Bytes& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(static_cast<std::uint16_t>(v >> 16)); }
    Bytes& F64(double v) {
        const auto bits = std::bit_cast<std::uint64_t>(v);
        return U32(bits & 0xFFFFFFFF).U32(static_cast<std::uint32_t>(bits >> 32));
    }
    Bytes& Str(std::string_view s) {  // short strings: one-byte length
        U8(static_cast<std::uint8_t>(s.size()));
        data_.insert(data_.end(), s.begin(), s.end());
        return *this;
    }
    Bytes& NewClass(std::string_view name) {
        U16(0xFFFF).U16(0).U16(static_cast<std::uint16_t>(name.size()));
        data_.insert(data_.end(), name.begin(), name.end());
        return *this;
    }
    const std::vector<std::uint8_t>& Data() const { return data_; }

  private:
    std::vector<std::uint8_t> data_;
};

std::vector<std::uint8_t> Store(const CObject& object) {
    CArchive out;
    out.WriteObject(&object);
    return out.TakeBytes();
}

template <class T>
std::unique_ptr<T> Load(const std::vector<std::uint8_t>& bytes) {
    static const ClassRegistry classes = ModelClasses();
    CArchive in(bytes, classes);
    auto object = in.ReadNew<T>();
    EXPECT_EQ(in.Remaining(), 0u);
    return object;
}

template <class T>
CArchiveException::Cause LoadFailure(const std::vector<std::uint8_t>& bytes) {
    try {
        Load<T>(bytes);
    } catch (const CArchiveException& e) {
        return e.GetCause();
    }
    ADD_FAILURE() << "the damaged image was accepted";
    return CArchiveException::generic;
}

std::uint64_t Bits(double x) {
    return std::bit_cast<std::uint64_t>(x);
}

std::unique_ptr<clBaseOPCItem> MakeItem(std::int32_t id, std::string name) {
    auto item = std::make_unique<clBaseOPCItem>();
    item->id = id;
    item->displayName = name;
    item->opcItemId = "Device." + name;
    return item;
}

std::unique_ptr<clBaseOPCGroup> MakeGroup(std::int32_t id, std::string name) {
    auto group = std::make_unique<clBaseOPCGroup>();
    group->id = id;
    group->name = std::move(name);
    return group;
}

// An item with every stored field away from its default, and history samples.
std::unique_ptr<clBaseOPCItem> MakeFullItem(std::int32_t id, std::string name) {
    auto item = MakeItem(id, std::move(name));
    item->scaleType = clBaseOPCItem::scaleTypeFactor;
    item->scaleEnabled = true;
    item->rawMax = 4095.0;
    item->rawMin = -0.0;
    item->engMax = 1e300;
    item->engMin = -12.25;
    item->scaleFactor = 0.1;
    item->accessRights = 3;
    item->value = 1.0 / 3.0;
    item->valueText = "Température élevée";
    item->active = 1;
    item->requestedType = VT_R4;
    item->canonicalType = VT_R8;
    item->timestamp.SetDateTime(2023, 7, 4, 5, 6, 7, 89);
    item->state = 1;
    item->quality = 0xC0;
    item->lastRecordedValue = 7.0;
    item->gridRow = 5;
    item->history.enabled = true;
    item->history.capacity = 5;
    item->history.overwrite = true;
    item->history.AddSample(clDateTime(2023, 7, 4, 5, 6, 5, 1), 1.5, 0xC0, true);
    item->history.AddSample(clDateTime(2023, 7, 4, 5, 6, 6, 2), 0.0, 0x40, false);
    item->history.AddSample(clDateTime(2023, 7, 4, 5, 6, 7, 3), -2.75, 0x04, true);
    item->history.SetRemark(2, "valve closed");
    return item;
}

struct SampleImage {
    std::int32_t number;
    std::string timestamp;
    std::uint32_t quality;
    std::uint64_t value;
    std::string remark;
    bool numeric;
    bool operator==(const SampleImage&) const = default;
};

std::vector<SampleImage> Samples(const clHistoricals& history) {
    std::vector<SampleImage> samples;
    history.ForEach([&](const clHistorical& s) {
        samples.push_back({s.number, std::string(s.timestamp.Format().view()), s.quality,
                           Bits(s.value), s.remark, s.numeric});
    });
    return samples;
}

void ExpectStoredFieldsEqual(const clBaseOPCItem& a, const clBaseOPCItem& b) {
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.displayName, b.displayName);
    EXPECT_EQ(a.opcItemId, b.opcItemId);
    EXPECT_EQ(a.scaleType, b.scaleType);
    EXPECT_EQ(a.scaleEnabled, b.scaleEnabled);
    EXPECT_EQ(Bits(a.rawMax), Bits(b.rawMax));
    EXPECT_EQ(Bits(a.rawMin), Bits(b.rawMin));
    EXPECT_EQ(Bits(a.engMax), Bits(b.engMax));
    EXPECT_EQ(Bits(a.engMin), Bits(b.engMin));
    EXPECT_EQ(Bits(a.scaleFactor), Bits(b.scaleFactor));
    EXPECT_EQ(a.accessRights, b.accessRights);
    EXPECT_EQ(Bits(a.value), Bits(b.value));
    EXPECT_EQ(a.valueText, b.valueText);
    EXPECT_EQ(a.active, b.active);
    EXPECT_EQ(a.requestedType, b.requestedType);
    EXPECT_EQ(a.canonicalType, b.canonicalType);
    EXPECT_EQ(a.timestamp, b.timestamp);
    EXPECT_EQ(a.history.enabled, b.history.enabled);
    EXPECT_EQ(a.history.capacity, b.history.capacity);
    EXPECT_EQ(a.history.overwrite, b.history.overwrite);
    EXPECT_EQ(a.history.GetNextNumber(), b.history.GetNextNumber());
    EXPECT_EQ(Samples(a.history), Samples(b.history));
}

std::vector<std::string> GroupNames(const clBaseOPCServer& server) {
    std::vector<std::string> names;
    for (const auto& group : server.Groups()) {
        names.push_back(group->name);
    }
    return names;
}

}  // namespace

TEST(Records, ServerPropertyTexts) {
    clBaseOPCServer server;
    server.serverName = "Sample.Server.1";
    server.nodeName = "node1";
    server.remote = 1;
    EXPECT_EQ(server.GetPropertyText("name"), "[node1]Sample.Server.1");
    EXPECT_EQ(server.GetPropertyText("NAME"), "[node1]Sample.Server.1");
    EXPECT_EQ(server.GetPropertyText("Connection"), "Remote");
    EXPECT_EQ(server.GetPropertyText("servername"), "Sample.Server.1");
    EXPECT_EQ(server.GetPropertyText("nodename"), "node1");
    EXPECT_EQ(server.GetPropertyText("color"), "");
    EXPECT_EQ(server.GetPropertyText(""), "");
    server.remote = 0;
    EXPECT_EQ(server.GetPropertyText("Name"), "Sample.Server.1");
    EXPECT_EQ(server.GetPropertyText("connection"), "Local");
}

TEST(Records, GroupPropertyTexts) {
    clBaseOPCGroup group;
    EXPECT_EQ(group.GetPropertyText("update_rate"), "1000");
    EXPECT_EQ(group.GetPropertyText("active"), "Enable");
    group.name = "Fast";
    group.updateRate = 250;
    group.active = 0;
    EXPECT_EQ(group.GetPropertyText("Name"), "Fast");
    EXPECT_EQ(group.GetPropertyText("UPDATE_RATE"), "250");
    EXPECT_EQ(group.GetPropertyText("active"), "Disable");
    group.updateRate = -5;
    EXPECT_EQ(group.GetPropertyText("update_rate"), "-5");
    EXPECT_EQ(group.GetPropertyText("update rate"), "");
}

TEST(Records, ItemPropertyTexts) {
    clBaseOPCItem item;
    EXPECT_EQ(item.GetPropertyText("scale_type"), "linear");
    EXPECT_EQ(item.GetPropertyText("scale_state"), "Disable");
    EXPECT_EQ(item.GetPropertyText("rawmax"), "100");
    EXPECT_EQ(item.GetPropertyText("engmax"), "100");
    EXPECT_EQ(item.GetPropertyText("rawmin"), "0");
    EXPECT_EQ(item.GetPropertyText("engmin"), "0");
    EXPECT_EQ(item.GetPropertyText("scale_factor"), "1");
    EXPECT_EQ(item.GetPropertyText("quality"), "Uncertain");
    EXPECT_EQ(item.GetPropertyText("timestamp"), "2000-01-01 00:00:00.000");
    EXPECT_EQ(item.GetPropertyText("access"), "");
    EXPECT_EQ(item.GetPropertyText("type"), "Empty");

    item.displayName = "Level";
    item.opcItemId = "Tank.Level";
    item.canonicalType = VT_R4;
    item.value = 12.5;
    item.valueText = "stale";
    item.accessRights = 3;
    item.active = 1;
    item.state = 1;
    item.scaleEnabled = true;
    item.scaleType = clBaseOPCItem::scaleTypeFactor;
    item.scaleFactor = 0.25;
    item.rawMin = -3.5;
    item.quality = 0xD8;
    EXPECT_EQ(item.GetPropertyText("Name"), "Level");
    EXPECT_EQ(item.GetPropertyText("PATH"), "Tank.Level");
    EXPECT_EQ(item.GetPropertyText("value"), "12.5");
    EXPECT_EQ(item.GetPropertyText("access"), "R+W");
    EXPECT_EQ(item.GetPropertyText("active"), "Valid");
    EXPECT_EQ(item.GetPropertyText("state"), "Valid");
    EXPECT_EQ(item.GetPropertyText("scale_state"), "Enable");
    EXPECT_EQ(item.GetPropertyText("Scale_Type"), "factor");
    EXPECT_EQ(item.GetPropertyText("scale_factor"), "0.25");
    EXPECT_EQ(item.GetPropertyText("rawmin"), "-3.5");
    EXPECT_EQ(item.GetPropertyText("quality"), "Good");
    EXPECT_EQ(item.GetPropertyText("type"), "Float");
    EXPECT_EQ(item.GetPropertyText("color"), "");

    // A non-numeric item shows its text; odd states and scale types show as such.
    item.canonicalType = VT_BSTR;
    item.state = 2;
    item.active = 0;
    item.scaleType = 3;
    item.accessRights = 2;
    EXPECT_EQ(item.GetPropertyText("value"), "stale");
    EXPECT_EQ(item.GetPropertyText("type"), "String");
    EXPECT_EQ(item.GetPropertyText("state"), "Invalid");
    EXPECT_EQ(item.GetPropertyText("active"), "Invalid");
    EXPECT_EQ(item.GetPropertyText("scale_type"), "");
    EXPECT_EQ(item.GetPropertyText("access"), "W");
}

TEST(Records, SortedInsertsFoldCaseAndKeepEqualNamesInOrder) {
    clBaseOPCServer server;
    std::vector<const clBaseOPCGroup*> inserted;
    for (const char* name : {"b", "A", "_x", "a"}) {
        inserted.push_back(&server.InsertGroupSorted(MakeGroup(0, name)));
    }
    EXPECT_EQ(GroupNames(server), (std::vector<std::string>{"_x", "A", "a", "b"}));
    EXPECT_EQ(server.Groups()[1].get(), inserted[1]);  // "A" came first among equals
    EXPECT_EQ(server.Groups()[2].get(), inserted[3]);

    clBaseOPCGroup group;
    for (const char* name : {"Tag10", "tag2", "TAG1", "", "Tag1", "tag1"}) {
        group.InsertItemSorted(MakeItem(0, name));
    }
    std::vector<std::string> names;
    for (const auto& item : group.Items()) {
        names.push_back(item->displayName);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"", "TAG1", "Tag1", "tag1", "Tag10", "tag2"}));
}

TEST(Records, FindHasAndRemove) {
    clBaseOPCServer server;
    clBaseOPCGroup& first = server.InsertGroupSorted(MakeGroup(1, "One"));
    clBaseOPCGroup& second = server.InsertGroupSorted(MakeGroup(2, "Two"));
    first.InsertItemSorted(MakeItem(5, "Pressure"));
    clBaseOPCItem& flow = second.InsertItemSorted(MakeItem(5, "Flow"));
    clBaseOPCItem& level = second.InsertItemSorted(MakeItem(6, "Level"));

    EXPECT_EQ(server.FindGroup(2), &second);
    EXPECT_EQ(server.FindGroup(3), nullptr);
    EXPECT_EQ(server.FindItem(2, 5), &flow);
    EXPECT_EQ(server.FindItem(2, 6), &level);
    EXPECT_EQ(server.FindItem(1, 6), nullptr);
    EXPECT_EQ(server.FindItem(9, 5), nullptr);

    EXPECT_TRUE(second.HasItemNamed("LEVEL"));
    EXPECT_FALSE(second.HasItemNamed("Leve"));
    EXPECT_FALSE(second.HasItemNamed("Pressure"));

    // An item of another group is left alone.
    EXPECT_FALSE(second.RemoveItem(first.Items().front().get()));
    EXPECT_EQ(second.Items().size(), 2u);
    EXPECT_EQ(first.Items().size(), 1u);
    EXPECT_TRUE(second.RemoveItem(&flow));
    EXPECT_EQ(second.Items().size(), 1u);
    EXPECT_EQ(server.FindItem(2, 5), nullptr);
    EXPECT_EQ(server.FindItem(2, 6), &level);

    server.DeleteAllGroups();
    EXPECT_TRUE(server.Groups().empty());
}

// The id look-ups answer what a search from the head of the list answers (the first record
// with that id), through any mix of sorted inserts, removals and reads, duplicate ids included.
TEST(Records, IdLookUpsMatchTheFirstInListOrder) {
    const auto firstItem = [](const clBaseOPCGroup& group, std::int32_t id) -> clBaseOPCItem* {
        for (const auto& item : group.Items()) {
            if (item->id == id) {
                return item.get();
            }
        }
        return nullptr;
    };
    const auto firstGroup = [](const clBaseOPCServer& server, std::int32_t id) {
        for (const auto& group : server.Groups()) {
            if (group->id == id) {
                return group.get();
            }
        }
        return static_cast<clBaseOPCGroup*>(nullptr);
    };

    std::mt19937 random(7);
    clBaseOPCServer server;
    for (int step = 0; step < 600; ++step) {
        const int choice = static_cast<int>(random() % 10);
        if (choice < 2 || server.Groups().empty()) {
            // Few ids and few names, so that both repeat and land anywhere in the list.
            const auto id = static_cast<std::int32_t>(random() % 4);
            server.InsertGroupSorted(MakeGroup(id, std::string(1, "abcAB"[random() % 5])));
            continue;
        }
        const auto& groups = server.Groups();
        clBaseOPCGroup& group = *groups[random() % groups.size()];
        if (choice == 2) {
            server.RemoveGroup(&group);
        } else if (choice < 7 || group.Items().empty()) {
            const auto id = static_cast<std::int32_t>(random() % 6);
            group.InsertItemSorted(MakeItem(id, std::string(1, "xyzXY"[random() % 5])));
        } else {
            group.RemoveItem(group.Items()[random() % group.Items().size()].get());
        }
        for (std::int32_t id = -1; id < 7; ++id) {
            ASSERT_EQ(server.FindGroup(id), firstGroup(server, id)) << "step " << step;
            for (const auto& g : server.Groups()) {
                ASSERT_EQ(g->FindItemById(id), firstItem(*g, id)) << "step " << step;
                const clBaseOPCGroup* owner = firstGroup(server, g->id);
                ASSERT_EQ(server.FindItem(g->id, id), firstItem(*owner, id));
            }
        }
    }

    // A read rebuilds the index from the file's order, which the write kept.
    const auto loaded = Load<clBaseOPCServer>(Store(server));
    ASSERT_EQ(loaded->Groups().size(), server.Groups().size());
    for (std::int32_t id = -1; id < 7; ++id) {
        EXPECT_EQ(loaded->FindGroup(id) == nullptr, server.FindGroup(id) == nullptr);
        for (const auto& g : loaded->Groups()) {
            EXPECT_EQ(g->FindItemById(id), firstItem(*g, id));
        }
    }

    // Emptying leaves nothing to find.
    clBaseOPCGroup& group = *server.Groups().front();
    group.DeleteAllItems();
    for (std::int32_t id = 0; id < 6; ++id) {
        EXPECT_EQ(group.FindItemById(id), nullptr);
    }
    server.DeleteAllGroups();
    EXPECT_EQ(server.FindGroup(0), nullptr);
}

TEST(Records, ModelClassesCreateEveryModelClass) {
    const ClassRegistry classes = ModelClasses();
    for (const char* name : {"clColumn", "clColumns", "clBaseOPCServer", "clBaseOPCGroup",
                             "clBaseOPCItem", "clHistorical", "clHistoricals"}) {
        const CRuntimeClass* cls = classes.Find(name);
        ASSERT_NE(cls, nullptr) << name;
        EXPECT_TRUE(cls->IsVersionable()) << name;
        EXPECT_EQ(cls->SchemaWord(), 0) << name;
        EXPECT_EQ(cls->create()->GetRuntimeClass(), cls) << name;
    }
    EXPECT_EQ(classes.Find("COPCServer"), nullptr);
}

// The bytes of a server with one group holding one item, assembled field by field.
TEST(RecordImages, FieldOrderOfEachImage) {
    clBaseOPCServer server;
    server.id = 0x01020304;
    server.serverName = "Sim.1";
    server.nodeName = "host";
    server.remote = 7;  // a 32-bit flag is stored as it is
    server.nextGroupNumber = 3;
    clBaseOPCGroup& group = server.InsertGroupSorted(MakeGroup(11, "G"));
    group.serverId = 0x01020304;
    group.reserved = -2;
    group.updateRate = 250;
    group.active = 0;
    clBaseOPCItem& item = group.InsertItemSorted(MakeItem(21, "Tag"));
    item.scaleType = clBaseOPCItem::scaleTypeFactor;
    item.scaleEnabled = true;
    item.rawMax = 200.0;
    item.rawMin = -1.0;
    item.engMax = 50.0;
    item.engMin = 0.5;
    item.scaleFactor = 2.5;
    item.accessRights = 3;
    item.value = 12.5;
    item.valueText = "v";
    item.active = 1;
    item.requestedType = VT_R4;
    item.canonicalType = VT_R8;
    item.timestamp.SetDateTime(2023, 7, 4, 5, 6, 7, 89);

    Bytes expected;
    expected.NewClass("clBaseOPCServer").U32(1).U32(0x01020304).Str("Sim.1").Str("host");
    expected.U32(7).U32(3).U16(1);
    expected.NewClass("clBaseOPCGroup").U32(1).U32(11).U32(0x01020304).U32(0xFFFFFFFE);
    expected.U32(250).Str("G").U32(0).U16(1);
    expected.NewClass("clBaseOPCItem").U32(1).U32(21).Str("Tag").Str("Device.Tag").U32(2).U8(1);
    expected.F64(200.0).F64(-1.0).F64(50.0).F64(0.5).F64(2.5).U32(3).F64(12.5).Str("v").U32(1);
    expected.U16(VT_R4).U16(VT_R8).U32(2023).U32(7).U32(4).U32(5).U32(6).U32(7).U32(89);
    // The embedded history: version, next number, enabled, capacity, overwrite, no samples.
    expected.U32(1).U32(1).U8(0).U32(128).U8(0).U16(0);

    EXPECT_EQ(Store(server), expected.Data());
    const auto loaded = Load<clBaseOPCServer>(expected.Data());
    EXPECT_EQ(loaded->Groups().at(0)->reserved, -2);
    EXPECT_EQ(loaded->remote, 7);
}

TEST(RecordImages, FullTreeRoundTripsByteForByteAndFieldForField) {
    clBaseOPCServer server;
    server.id = 3;
    server.serverName = "Sample.Server.1";
    server.nodeName = "node1";
    server.remote = 1;
    server.nextGroupNumber = 4;
    clBaseOPCGroup& slow = server.InsertGroupSorted(MakeGroup(2, "slow"));
    slow.serverId = 3;
    slow.updateRate = 5000;
    clBaseOPCGroup& fast = server.InsertGroupSorted(MakeGroup(1, "Fast"));
    fast.serverId = 3;
    fast.reserved = 0x12345678;
    fast.updateRate = 250;
    fast.active = 0;
    fast.InsertItemSorted(MakeFullItem(10, "Température"));
    fast.InsertItemSorted(MakeItem(11, "Plain"));
    slow.InsertItemSorted(MakeFullItem(12, "Counter"));
    // A long name takes the word-length string prefix.
    slow.InsertItemSorted(MakeItem(13, std::string(300, 'z')));

    const std::vector<std::uint8_t> bytes = Store(server);
    const auto loaded = Load<clBaseOPCServer>(bytes);

    EXPECT_EQ(loaded->id, 3);
    EXPECT_EQ(loaded->serverName, "Sample.Server.1");
    EXPECT_EQ(loaded->nodeName, "node1");
    EXPECT_EQ(loaded->remote, 1);
    EXPECT_EQ(loaded->nextGroupNumber, 4);
    EXPECT_EQ(loaded->liveServer, nullptr);
    ASSERT_EQ(loaded->Groups().size(), 2u);
    for (std::size_t g = 0; g < 2; ++g) {
        const clBaseOPCGroup& a = *server.Groups()[g];
        const clBaseOPCGroup& b = *loaded->Groups()[g];
        EXPECT_EQ(a.id, b.id);
        EXPECT_EQ(a.serverId, b.serverId);
        EXPECT_EQ(a.reserved, b.reserved);
        EXPECT_EQ(a.updateRate, b.updateRate);
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(a.active, b.active);
        EXPECT_EQ(b.liveGroup, nullptr);
        ASSERT_EQ(a.Items().size(), b.Items().size());
        for (std::size_t i = 0; i < a.Items().size(); ++i) {
            ExpectStoredFieldsEqual(*a.Items()[i], *b.Items()[i]);
        }
    }

    // What is not stored comes back as after a fresh load.
    const clBaseOPCItem& item = *loaded->Groups()[0]->Items()[1];
    EXPECT_EQ(item.displayName, "Température");
    EXPECT_EQ(Samples(item.history).size(), 3u);
    EXPECT_EQ(item.quality, 0x40u);
    EXPECT_EQ(item.GetPropertyText("quality"), "Uncertain");
    EXPECT_EQ(item.lastRecordedValue, 0.0);
    EXPECT_EQ(item.state, 2);
    EXPECT_EQ(item.GetPropertyText("state"), "Invalid");
    EXPECT_EQ(item.gridRow, 0);
    EXPECT_EQ(item.GetPropertyText("timestamp"), "2023-07-04 05:06:07.089");

    EXPECT_EQ(Store(*loaded), bytes);
}

TEST(RecordImages, ScalingByteTwoReadsAsSetAndIsWrittenAsOne) {
    clBaseOPCItem item;
    item.scaleEnabled = true;
    const std::vector<std::uint8_t> stored = Store(item);
    // Class record (6 + 13 bytes), version, id, two empty strings, scale type.
    constexpr std::size_t kFlag = 6 + 13 + 4 + 4 + 1 + 1 + 4;
    ASSERT_EQ(stored.at(kFlag), 1);
    std::vector<std::uint8_t> damaged = stored;
    damaged[kFlag] = 2;
    const auto loaded = Load<clBaseOPCItem>(damaged);
    EXPECT_TRUE(loaded->scaleEnabled);
    EXPECT_EQ(loaded->GetPropertyText("scale_state"), "Enable");
    EXPECT_EQ(Store(*loaded), stored);
}

TEST(RecordImages, DamagedListsAreRefused) {
    // The group list names the first group a second time.
    Bytes backReference;
    backReference.NewClass("clBaseOPCServer").U32(1).U32(1).Str("S").Str("").U32(0).U32(1).U16(2);
    backReference.NewClass("clBaseOPCGroup").U32(1).U32(1).U32(1).U32(0).U32(1000).Str("G").U32(1);
    backReference.U16(0);       // no items
    backReference.U16(0x0004);  // server class 1, server 2, group class 3, group 4
    EXPECT_EQ(LoadFailure<clBaseOPCServer>(backReference.Data()), CArchiveException::badClass);

    // An item list that holds a history sample.
    Bytes wrongClass;
    wrongClass.NewClass("clBaseOPCGroup").U32(1).U32(1).U32(1).U32(0).U32(1000).Str("G").U32(1);
    wrongClass.U16(1).NewClass("clHistorical").U32(1).U32(1).U32(0xC0).F64(1.0).U8(1).Str("");
    wrongClass.U32(2000).U32(1).U32(1).U32(0).U32(0).U32(0).U32(0);
    EXPECT_EQ(LoadFailure<clBaseOPCGroup>(wrongClass.Data()), CArchiveException::badClass);

    // A null entry.
    Bytes nullEntry;
    nullEntry.NewClass("clBaseOPCGroup").U32(1).U32(1).U32(1).U32(0).U32(1000).Str("G").U32(1);
    nullEntry.U16(1).U16(0);
    EXPECT_EQ(LoadFailure<clBaseOPCGroup>(nullEntry.Data()), CArchiveException::badClass);

    // A count the input cannot back ends at the end of the input, without claiming memory.
    Bytes hugeCount;
    hugeCount.NewClass("clBaseOPCGroup").U32(1).U32(1).U32(1).U32(0).U32(1000).Str("G").U32(1);
    hugeCount.U16(0xFFFF).U32(0xFFFFFFFF);
    EXPECT_EQ(LoadFailure<clBaseOPCGroup>(hugeCount.Data()), CArchiveException::endOfFile);
}

TEST(RecordImages, EveryTruncationFailsCleanly) {
    clBaseOPCServer server;
    server.serverName = "S";
    clBaseOPCGroup& group = server.InsertGroupSorted(MakeGroup(1, "G"));
    group.InsertItemSorted(MakeFullItem(2, "A"));
    group.InsertItemSorted(MakeItem(3, "B"));
    const std::vector<std::uint8_t> bytes = Store(server);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + n);
        const CArchiveException::Cause cause = LoadFailure<clBaseOPCServer>(cut);
        EXPECT_TRUE(cause == CArchiveException::endOfFile || cause == CArchiveException::badClass)
            << "cut at " << n << ": cause " << cause;
    }
}
