// The configuration file: the bytes the document writes, reading them back with the servers
// connected again, files whose server cannot be reached, and damaged files.

#include <vector>

#include "document/offline_doc.h"
#include "document_fixture.h"
#include "framework/hints.h"
#include "model/columns.h"
#include "opcda/errors.h"

namespace {

using DocumentFileTest = DocumentTest;

// The live-server list of a file with n placeholder entries.
Bytes& LiveServers(Bytes& b, std::uint16_t n, std::uint16_t classIndex) {
    b.U16(n);
    for (std::uint16_t i = 0; i < n; ++i) {
        if (i == 0) {
            b.NewClass("COPCServer", 1);
        } else {
            b.U16(static_cast<std::uint16_t>(0x8000 | classIndex));
        }
        b.U32(1);
    }
    return b;
}

// The bytes of a document holding the simulation server (id 1) with group "Group1" (id 1)
// holding the item Static.Double (id 1) untouched since it was added; liveServers entries.
Bytes OneServerFile(std::uint16_t liveServers) {
    Bytes b;
    b.NewDocumentHead(2, 2, 2, 2);
    b.U32(1).U16(1);
    b.NewClass("clBaseOPCServer").U32(1).U32(1).Str(kSimulatorProgId).Str("").U32(0).U32(2).U16(1);
    b.NewClass("clBaseOPCGroup").U32(1).U32(1).U32(1).U32(0).U32(1000).Str("Group1").U32(1);
    b.U16(1).NewClass("clBaseOPCItem").U32(1).U32(1).Str("Static.Double").Str("Static.Double");
    b.U32(1).U8(0).F64(100.0).F64(0.0).F64(100.0).F64(0.0).F64(1.0).U32(3).F64(0.0).Str("");
    b.U32(1).U16(VT_EMPTY).U16(VT_R8).U32(2000).U32(1).U32(1).U32(0).U32(0).U32(0).U32(0);
    b.U32(1).U32(1).U8(0).U32(128).U8(0).U16(0);  // history: off, no samples
    // clColumn 1, sets 2-4, server class 5, record 6, group class 7, 8, item class 9, 10.
    return LiveServers(b, liveServers, 11);
}

TEST_F(DocumentFileTest, NewDocumentIsTheCountersColumnSetsAndTwoEmptyLists) {
    EXPECT_FALSE(doc.IsModified());
    Bytes expected;
    expected.NewDocumentHead().U32(1).U16(0).U16(0);
    EXPECT_EQ(SaveBytes(), expected.Data());
}

TEST_F(DocumentFileTest, OneServerGroupAndItemIntroduceTheirClassesInOrder) {
    clBaseOPCServer* server = AddServer();
    ASSERT_NE(server, nullptr);
    clBaseOPCGroup* group = AddGroup(*server);
    ASSERT_NE(group, nullptr);
    ASSERT_NE(AddItem(*group, "Static.Double"), nullptr);
    EXPECT_EQ(SaveBytes(), OneServerFile(1).Data());
    EXPECT_FALSE(doc.IsModified());
}

TEST_F(DocumentFileTest, OpeningConnectsEveryServerGroupAndItemAgain) {
    WriteFileBytes(files.Path("one.tgv"), OneServerFile(1).Data());
    ASSERT_TRUE(doc.OnOpenDocument(files.Path("one.tgv")));
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(view.Hints(), (std::vector<int>{kHintNewDocument}));
    EXPECT_EQ(ui.MessageCount(), 0u);

    // The placeholder of the file and the server connected now.
    ASSERT_EQ(doc.serverList.Servers().size(), 2u);
    EXPECT_EQ(doc.serverList.Servers()[0]->connected, 0);
    const COPCServer& live = *doc.serverList.Servers()[1];
    EXPECT_EQ(live.connected, 1);
    EXPECT_EQ(live.serverId, 1);
    EXPECT_EQ(sim.LiveServerCount(), 1);

    ASSERT_EQ(doc.serverList.ServerRecords().size(), 1u);
    const clBaseOPCServer& server = *doc.serverList.ServerRecords()[0];
    EXPECT_EQ(server.liveServer, &live);
    const clBaseOPCGroup& group = *server.Groups().at(0);
    ASSERT_NE(group.liveGroup, nullptr);
    EXPECT_EQ(&group.liveGroup->Server(), &live);
    EXPECT_EQ(group.liveGroup->groupId, 1);
    EXPECT_EQ(group.liveGroup->name, "Group1");
    const clBaseOPCItem& item = *group.Items().at(0);
    EXPECT_EQ(item.state, clBaseOPCItem::stateValid);
    ASSERT_EQ(group.liveGroup->Items().size(), 1u);
    const COPCItem& liveItem = *group.liveGroup->Items()[0];
    EXPECT_EQ(liveItem.itemIdNumber, 1);
    EXPECT_EQ(liveItem.itemId, "Static.Double");

    // A save writes one more live-server entry than the file had; the rest is unchanged.
    EXPECT_EQ(SaveBytes(), OneServerFile(2).Data());
}

TEST_F(DocumentFileTest, AServerThatCannotBeReachedKeepsItsRecordsAndIsSavedUnchanged) {
    {
        clBaseOPCServer* server = AddServer();
        clBaseOPCGroup* group = AddGroup(*server);
        AddItem(*group, "Static.Double");
        AddItem(*group, "Signals.Ramp");
    }
    const std::vector<std::uint8_t> original = SaveBytes("original.tgv");
    doc.ResetContents();
    MakeServerUnreachable();
    ui.Clear();
    view.updates.clear();

    ASSERT_TRUE(doc.OnOpenDocument(files.Path("original.tgv")));
    // The runtime names the server it could not activate; the document adds nothing.
    EXPECT_EQ(ui.MessageTexts(),
              (std::vector<std::string>{"Failed connect to Tagvista.Simulator.1"}));
    EXPECT_EQ(view.Hints(), (std::vector<int>{kHintNewDocument}));
    ASSERT_EQ(doc.serverList.Servers().size(), 1u);  // only the file's placeholder
    const clBaseOPCServer& server = *doc.serverList.ServerRecords().at(0);
    EXPECT_EQ(server.liveServer, nullptr);
    const clBaseOPCGroup& group = *server.Groups().at(0);
    EXPECT_EQ(group.liveGroup, nullptr);
    ASSERT_EQ(group.Items().size(), 2u);
    for (const auto& item : group.Items()) {
        EXPECT_EQ(item->GetPropertyText("state"), "Invalid");
    }
    EXPECT_EQ(SaveBytes("again.tgv"), original);

    // Deleting a group of that server removes its record all the same.
    SelectGroup(*doc.serverList.ServerRecords()[0],
                *doc.serverList.ServerRecords()[0]->Groups()[0]);
    ui.QueueAnswer(IDYES);
    doc.OnDeleteGroup();
    EXPECT_TRUE(doc.serverList.ServerRecords()[0]->Groups().empty());
}

TEST_F(DocumentFileTest, AnEmptyFileOpensAsAnEmptyModifiedDocument) {
    AddServer();
    view.updates.clear();
    WriteFileBytes(files.Path("empty.tgv"), {});
    ASSERT_TRUE(doc.OnOpenDocument(files.Path("empty.tgv")));
    EXPECT_TRUE(doc.serverList.ServerRecords().empty());
    EXPECT_TRUE(doc.serverList.Servers().empty());
    EXPECT_TRUE(doc.columns.Sets().empty());
    EXPECT_EQ(doc.nextServerId, 1);
    EXPECT_EQ(sim.LiveServerCount(), 0);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(view.Hints(), (std::vector<int>{kHintNewDocument}));
    Bytes expected;
    expected.U32(1).U32(1).U32(1).U32(1).U32(1).U32(1).U32(1).U16(0).U32(1).U16(0).U16(0);
    EXPECT_EQ(SaveBytes(), expected.Data());
}

TEST_F(DocumentFileTest, ItemsAndGroupsTheServerRefusesStayWithoutLiveObjects) {
    {
        clBaseOPCServer* server = AddServer();
        clBaseOPCGroup* a = AddGroup(*server, "A");
        AddItem(*a, "Static.Double");
        AddItem(*a, "Static.Int16");
        clBaseOPCGroup* b = AddGroup(*server, "B");
        AddItem(*b, "Static.Float");
    }
    SaveBytes("groups.tgv");
    doc.ResetContents();
    ui.Clear();

    sim.Faults().itemErrors["Static.Int16"] = OPC_E_UNKNOWNITEMID;
    ASSERT_TRUE(doc.OnOpenDocument(files.Path("groups.tgv")));
    const clBaseOPCServer& server = *doc.serverList.ServerRecords().at(0);
    const clBaseOPCGroup& a = *server.Groups().at(0);
    ASSERT_EQ(a.Items().size(), 2u);
    EXPECT_EQ(a.Items()[0]->GetPropertyText("state"), "Valid");    // Static.Double
    EXPECT_EQ(a.Items()[1]->GetPropertyText("state"), "Invalid");  // Static.Int16
    EXPECT_EQ(a.liveGroup->Items().size(), 1u);
    EXPECT_EQ(ui.MessageTexts(),
              (std::vector<std::string>{"Error from AddItems Static.Int16 (error 1)"}));

    // A group the server refuses: no live group, its items stay "Invalid".
    doc.ResetContents();
    sim.Faults().itemErrors.clear();
    sim.Faults().callResults["AddGroup"] = E_FAIL;
    ASSERT_TRUE(doc.OnOpenDocument(files.Path("groups.tgv")));
    for (const auto& group : doc.serverList.ServerRecords().at(0)->Groups()) {
        EXPECT_EQ(group->liveGroup, nullptr);
        for (const auto& item : group->Items()) {
            EXPECT_EQ(item->state, clBaseOPCItem::stateLoaded);
        }
    }
}

TEST_F(DocumentFileTest, CountersAndHistoryRoundTrip) {
    clBaseOPCServer* server = AddServer();
    clBaseOPCGroup* group = AddGroup(*server);
    clBaseOPCItem* item = AddItem(*group, "Static.Double");
    item->history.enabled = true;
    item->history.AddSample(clDateTime(2024, 2, 29, 23, 59, 58, 999), 2.5, 0xC0, true);
    item->history.SetRemark(1, "first");
    doc.reservedCounter = -7;
    doc.nextItemId = 40;
    doc.columns.FindByKind(clColumn::kItemList)->widths[3] = 150;
    const std::vector<std::uint8_t> saved = SaveBytes();

    COfflineDoc copy;
    ASSERT_EQ(copy.Open(files.Path("saved.tgv")), "");
    EXPECT_EQ(copy.reservedCounter, -7);
    EXPECT_EQ(copy.nextItemId, 40);
    EXPECT_EQ(copy.nextGroupId, 2);
    EXPECT_EQ(copy.nextServerId, 2);
    EXPECT_EQ(copy.nextServerNumber, 2);
    EXPECT_EQ(copy.columns.FindByKind(clColumn::kItemList)->widths[3], 150);
    EXPECT_EQ(
        copy.serverList.ServerRecords().at(0)->Groups().at(0)->Items().at(0)->history.GetCount(),
        1u);
    EXPECT_EQ(copy.SaveToBytes(), saved);
}

// A list that names a record of another class, or the same object twice, cannot come from a
// save: such a file is refused as a whole.
TEST_F(DocumentFileTest, ListsWithForeignOrRepeatedEntriesAreRefused) {
    const auto head = [] {
        Bytes b;
        b.U32(1).U32(1).U32(1).U32(1).U32(1).U32(1).U32(1).U16(0);  // no column sets
        b.U32(1);
        return b;
    };
    const auto serverRecord = [](Bytes& b) {
        b.U32(1).U32(1).Str("S").Str("").U32(0).U32(1).U16(0);
    };
    std::vector<std::pair<const char*, Bytes>> damaged;
    {
        Bytes b = head();  // a column set in the server-record list
        b.U16(1).NewClass("clColumn").ColumnSet("X", 1, {});
        damaged.emplace_back("column set as server", b);
    }
    {
        Bytes b = head();  // the same server record twice
        b.U16(2).NewClass("clBaseOPCServer");
        serverRecord(b);
        b.U16(0x0002);
        damaged.emplace_back("server record twice", b);
    }
    {
        Bytes b = head();  // a server record in the live-server list
        b.U16(0).U16(1).NewClass("clBaseOPCServer");
        serverRecord(b);
        damaged.emplace_back("record as live server", b);
    }
    {
        Bytes b = head();  // the same live server twice
        b.U16(0).U16(2).NewClass("COPCServer", 1).U32(1).U16(0x0002);
        damaged.emplace_back("live server twice", b);
    }
    {
        Bytes b = head();  // a live server among the server records
        b.U16(1).NewClass("COPCServer", 1).U32(1).U16(0);
        damaged.emplace_back("live server as record", b);
    }
    {
        Bytes b = head();  // a null entry
        b.U16(0).U16(1).U16(0);
        damaged.emplace_back("null live server", b);
    }
    for (const auto& [what, bytes] : damaged) {
        ui.Clear();
        view.updates.clear();
        WriteFileBytes(files.Path("damaged.tgv"), bytes.Data());
        EXPECT_FALSE(doc.OnOpenDocument(files.Path("damaged.tgv"))) << what;
        EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"Unexpected file format."})) << what;
        // The partly read document gave way to a new one.
        EXPECT_TRUE(doc.serverList.ServerRecords().empty()) << what;
        EXPECT_TRUE(doc.serverList.Servers().empty()) << what;
        EXPECT_EQ(doc.columns.Sets().size(), 3u) << what;
        EXPECT_EQ(view.Hints(), (std::vector<int>{kHintNewDocument})) << what;
    }

    // The same lists with their entries in place are read.
    Bytes good = head();
    good.U16(1).NewClass("clBaseOPCServer");
    serverRecord(good);
    good.U16(2).NewClass("COPCServer", 1).U32(1).U16(0x8003).U32(7);
    COfflineDoc offline;
    EXPECT_EQ(offline.OpenBytes(good.Data(), "good.tgv"), "");
    EXPECT_EQ(offline.serverList.Servers().size(), 2u);
}

TEST_F(DocumentFileTest, FileErrorsAndCutFilesReportTheApplicationsMessages) {
    COfflineDoc offline;
    const std::string missing = files.Path("missing.tgv");
    EXPECT_EQ(offline.Open(missing), missing + " was not found.");

    // Every cut of a real file fails cleanly with the format message, and the offline
    // document reads exactly what the application reads.
    clBaseOPCServer* server = AddServer();
    clBaseOPCItem* item = AddItem(*AddGroup(*server), "Static.Double");
    item->history.enabled = true;
    item->history.AddSample(clDateTime(2024, 1, 1, 0, 0, 0, 0), 1.0, 0xC0, true);
    const std::vector<std::uint8_t> bytes = SaveBytes();
    for (std::size_t n = 1; n < bytes.size(); ++n) {
        const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
        ASSERT_EQ(offline.OpenBytes(cut, "cut.tgv"), "Unexpected file format.") << "cut at " << n;
        ASSERT_TRUE(offline.serverList.ServerRecords().empty());
    }
    EXPECT_EQ(offline.OpenBytes(bytes, "whole.tgv"), "");
    EXPECT_EQ(offline.SaveToBytes(), bytes);
    // The offline document connects nothing.
    EXPECT_EQ(offline.serverList.ServerRecords().at(0)->liveServer, nullptr);
    EXPECT_EQ(sim.LiveServerCount(), 1);
}

}  // namespace
