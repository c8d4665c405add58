// The document's container of servers: record order, look-ups, removing a group record with
// its live group, the order of emptying, and the stored image.

#include <memory>
#include <string>
#include <vector>

#include "model/archive.h"
#include "opc/opc_list.h"
#include "opc/runtime_classes.h"
#include "opcda/errors.h"
#include "recording_server.h"
#include "runtime_fixture.h"

namespace {

using OpcListTest = RuntimeTest;

std::unique_ptr<clBaseOPCServer> Record(std::int32_t id, std::string progId) {
    auto record = std::make_unique<clBaseOPCServer>();
    record->id = id;
    record->serverName = std::move(progId);
    return record;
}

std::vector<std::string> ProgIds(const clOPCList& list) {
    std::vector<std::string> names;
    for (const auto& record : list.ServerRecords()) {
        names.push_back(record->serverName);
    }
    return names;
}

TEST_F(OpcListTest, KeepsRecordsSortedByProgIdAndFindsThemById) {
    clOPCList list;
    list.AddServerRecord(Record(1, "b.server"));
    clBaseOPCServer& upper = list.AddServerRecord(Record(2, "A.server"));
    list.AddServerRecord(Record(3, "a.server"));
    EXPECT_EQ(ProgIds(list), (std::vector<std::string>{"A.server", "a.server", "b.server"}));
    EXPECT_EQ(list.FindServerRecord(2), &upper);
    EXPECT_EQ(list.FindServerRecord(9), nullptr);

    // Two records with one id: the first in list order. An id set after adding is found.
    list.AddServerRecord(Record(1, "0.first"));
    EXPECT_EQ(list.FindServerRecord(1)->serverName, "0.first");
    upper.id = 20;
    EXPECT_EQ(list.FindServerRecord(20), &upper);
    EXPECT_EQ(list.FindServerRecord(2), nullptr);

    list.RemoveServerRecord(&upper);
    list.RemoveServerRecord(&upper);  // no longer listed: nothing
    list.RemoveServerRecord(nullptr);
    EXPECT_EQ(ProgIds(list), (std::vector<std::string>{"0.first", "a.server", "b.server"}));
    EXPECT_EQ(list.FindServerRecord(20), nullptr);

    COPCServer& server = list.AddServer(std::make_unique<COPCServer>(&host));
    COPCServer stranger(&host);
    list.RemoveServer(&stranger);
    EXPECT_EQ(list.Servers().size(), 1u);
    list.RemoveServer(&server);
    EXPECT_TRUE(list.Servers().empty());
}

TEST_F(OpcListTest, RemovingAGroupRecordRemovesItsLiveGroupFirst) {
    clOPCList list;
    clBaseOPCServer& record = list.AddServerRecord(Record(1, kSimulatorProgId));
    COPCServer& server = list.AddServer(Connected());
    record.liveServer = &server;
    std::vector<clBaseOPCGroup*> groupRecords;
    for (const char* name : {"G1", "G2"}) {
        auto groupRecord = std::make_unique<clBaseOPCGroup>();
        groupRecord->id = static_cast<std::int32_t>(groupRecords.size() + 1);
        groupRecord->serverId = 1;
        groupRecord->name = name;
        groupRecord->liveGroup = AddGroup(server, name);
        ASSERT_NE(groupRecord->liveGroup, nullptr);
        groupRecords.push_back(&record.InsertGroupSorted(std::move(groupRecord)));
    }

    list.RemoveGroupRecord(groupRecords[0]);
    EXPECT_EQ(record.Groups().size(), 1u);
    ASSERT_EQ(server.Groups().size(), 1u);
    EXPECT_EQ(server.Groups()[0]->name, "G2");

    // A server that keeps the group: the record still goes, the live group stays, unsubscribed.
    sim.Faults().callResults["RemoveGroup"] = OPC_S_INUSE;
    list.RemoveGroupRecord(groupRecords[1]);
    EXPECT_TRUE(record.Groups().empty());
    ASSERT_EQ(server.Groups().size(), 1u);
    EXPECT_FALSE(server.Groups()[0]->IsSubscribed());
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"Error from Remove Group G2,4000f"}));
    list.RemoveGroupRecord(nullptr);
}

TEST_F(OpcListTest, EmptyingDestroysAllRecordsBeforeAnyServer) {
    RecordingLog log;
    ScopedRecordingServer recording(sim, log);
    auto list = std::make_unique<clOPCList>();
    list->AddServerRecord(Record(1, kRecordingProgId));
    list->AddServerRecord(Record(2, kRecordingProgId));
    for (int i = 0; i < 2; ++i) {
        auto server = std::make_unique<COPCServer>(&host);
        server->progId = kRecordingProgId;
        ASSERT_TRUE(server->Connect());
        ASSERT_NE(AddGroup(*server, "G" + std::to_string(i)), nullptr);
        list->AddServer(std::move(server));
    }
    std::vector<std::size_t> recordsAtRemoval;
    clOPCList* raw = list.get();
    log.onRemoveGroup = [&] { recordsAtRemoval.push_back(raw->ServerRecords().size()); };
    log.calls.clear();
    list->DeleteAll();
    EXPECT_TRUE(list->ServerRecords().empty());
    EXPECT_TRUE(list->Servers().empty());
    EXPECT_EQ(recordsAtRemoval, (std::vector<std::size_t>{0, 0}));
    EXPECT_EQ(log.calls, (std::vector<std::string>{"RemoveGroup G0", "released", "RemoveGroup G1",
                                                   "released"}));
}

TEST_F(OpcListTest, StoresBothListsAndReadsThemBack) {
    clOPCList list;
    list.AddServerRecord(Record(4, "Vendor.B"));
    list.AddServerRecord(Record(7, "Vendor.A"));
    list.AddServer(std::make_unique<COPCServer>(&host));

    CArchive out;
    out.WriteObject(&list);
    const std::vector<std::uint8_t> bytes = out.TakeBytes();
    // The list ends with the one live server: its class record and the version word alone.
    const std::string tail = "COPCServer";
    std::vector<std::uint8_t> expectedTail{
        0x01, 0x00, 0xFF, 0xFF, 0x01, 0x00, static_cast<std::uint8_t>(tail.size()), 0x00};
    expectedTail.insert(expectedTail.end(), tail.begin(), tail.end());
    expectedTail.insert(expectedTail.end(), {0x01, 0x00, 0x00, 0x00});
    ASSERT_GE(bytes.size(), expectedTail.size());
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.end() - static_cast<long>(expectedTail.size()),
                                        bytes.end()),
              expectedTail);

    const ClassRegistry classes = RuntimeClasses();
    CArchive in(bytes, classes);
    std::unique_ptr<CObject> created;
    in.ReadObject(created);
    auto* loaded = dynamic_cast<clOPCList*>(created.get());
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(in.Remaining(), 0u);
    EXPECT_EQ(ProgIds(*loaded), (std::vector<std::string>{"Vendor.A", "Vendor.B"}));
    EXPECT_EQ(loaded->FindServerRecord(4)->serverName, "Vendor.B");
    ASSERT_EQ(loaded->Servers().size(), 1u);
    EXPECT_EQ(loaded->Servers()[0]->connected, 0);
    EXPECT_EQ(loaded->Servers()[0]->Host(), nullptr);

    // A damaged image fails cleanly, keeping what was read.
    for (std::size_t size = 0; size < bytes.size(); ++size) {
        const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(size));
        CArchive damaged(cut, classes);
        std::unique_ptr<CObject> partial;
        EXPECT_THROW(damaged.ReadObject(partial), CArchiveException) << size;
    }
}

}  // namespace
