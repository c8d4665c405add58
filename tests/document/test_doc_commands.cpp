// The document's commands: ids and numbers they hand out and give back, their messages, the
// hints and the modified flag, and when each is enabled.

#include <vector>

#include "document_fixture.h"
#include "framework/cmd_target.h"
#include "framework/commands.h"
#include "framework/hints.h"

namespace {

using CommandTest = DocumentTest;
using Kind = ScriptedDocumentDialogs::Kind;

TEST_F(CommandTest, NewServersTakeIdsAndNumbersAndGiveNumbersBackWhenRefused) {
    // Cancelled twice, then an empty ProgID, then one that cannot be activated.
    dialogs.QueueServerDialog(IDCANCEL);
    doc.OnNewServer();
    dialogs.QueueServerDialog(IDCANCEL);
    doc.OnNewServer();
    dialogs.QueueServer("");
    doc.OnNewServer();
    dialogs.QueueServer("No.Such.Server");
    doc.OnNewServer();
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{
                                     "OPC Server name is empty, create new device cancel",
                                     "Failed connect to No.Such.Server",
                                     "Fail connect to 'No.Such.Server'",
                                 }));
    EXPECT_EQ(doc.nextServerNumber, 1);
    EXPECT_EQ(doc.nextServerId, 1);
    EXPECT_TRUE(doc.serverList.ServerRecords().empty());
    EXPECT_TRUE(doc.serverList.Servers().empty());
    EXPECT_TRUE(view.updates.empty());
    EXPECT_FALSE(doc.IsModified());

    clBaseOPCServer* first = AddServer();
    clBaseOPCServer* second = AddServer();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->id, 1);
    EXPECT_EQ(second->id, 2);
    EXPECT_EQ(doc.nextServerId, 3);
    EXPECT_EQ(doc.nextServerNumber, 3);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(view.updates, (std::vector<RecordingView::Update>{{kHintServerAdded, first},
                                                                {kHintServerAdded, second}}));
    // Every dialog saw the number the next server would take.
    std::vector<std::string> names;
    for (const auto& shown : dialogs.ShownDialogs()) {
        names.push_back(shown.subject);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"OPCServer1", "OPCServer1", "OPCServer1",
                                               "OPCServer1", "OPCServer1", "OPCServer2"}));

    // The record describes its live server.
    ASSERT_NE(first->liveServer, nullptr);
    EXPECT_EQ(first->liveServer->serverId, 1);
    EXPECT_EQ(first->liveServer->displayName, "OPCServer1");
    EXPECT_EQ(first->serverName, kSimulatorProgId);
    EXPECT_EQ(first->nodeName, "");
    EXPECT_EQ(first->remote, 0);
    EXPECT_EQ(sim.LiveServerCount(), 2);
}

TEST_F(CommandTest, NewGroupsTakeIdsAndNumbersAndKeepTheNumberOfARefusedGroup) {
    clBaseOPCServer* server = AddServer();
    clBaseOPCServer* other = AddServer();
    doc.SetModifiedFlag(false);
    view.updates.clear();
    SelectServer(*server);

    // Cancelled: the number comes back, nothing else changes.
    dialogs.QueueGroupDialog(IDCANCEL);
    doc.OnNewGroup();
    EXPECT_EQ(server->nextGroupNumber, 1);
    EXPECT_FALSE(doc.IsModified());

    clBaseOPCGroup* first = AddGroup(*server);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->name, "Group1");
    EXPECT_EQ(first->id, 1);
    EXPECT_EQ(first->serverId, server->id);
    ASSERT_NE(first->liveGroup, nullptr);
    EXPECT_EQ(first->liveGroup->groupId, 1);
    EXPECT_EQ(first->liveGroup->name, "Group1");
    EXPECT_EQ(&first->liveGroup->Server(), server->liveServer);
    EXPECT_TRUE(doc.IsModified());

    clBaseOPCGroup* fast = AddGroup(*other, "Fast", 250);
    ASSERT_NE(fast, nullptr);
    EXPECT_EQ(fast->id, 2);
    EXPECT_EQ(fast->updateRate, 250);
    EXPECT_EQ(fast->liveGroup->updateRate, 250u);
    EXPECT_EQ(other->nextGroupNumber, 2);
    EXPECT_EQ(doc.nextGroupId, 3);
    EXPECT_EQ(view.updates, (std::vector<RecordingView::Update>{{kHintGroupAdded, first},
                                                                {kHintGroupAdded, fast}}));

    // Refused by the server: the message, no record, the number stays taken.
    view.updates.clear();
    doc.SetModifiedFlag(false);
    ui.Clear();
    sim.Faults().callResults["AddGroup"] = E_FAIL;
    EXPECT_EQ(AddGroup(*server), nullptr);
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"Error from AddGroup (80004005)\n",
                                                           "Fail to create new opc group"}));
    EXPECT_EQ(server->nextGroupNumber, 3);
    EXPECT_EQ(doc.nextGroupId, 3);
    EXPECT_EQ(server->Groups().size(), 1u);
    EXPECT_TRUE(view.updates.empty());
    EXPECT_FALSE(doc.IsModified());
}

TEST_F(CommandTest, DeletingAServerAsksFirstAndTearsDownItsLiveServer) {
    clBaseOPCServer* server = AddServer();
    clBaseOPCGroup* group = AddGroup(*server);
    clBaseOPCItem* item = AddItem(*group, "Static.Double");
    int treeNode = 0;
    server->treeItem = &treeNode;
    SelectServer(*server);
    doc.currentGroup = group;  // pointers into the server must not outlive it
    doc.currentItem = item;
    doc.SetModifiedFlag(false);
    view.updates.clear();

    ui.QueueAnswer(IDNO);
    doc.OnDeleteServer();
    EXPECT_EQ(doc.serverList.ServerRecords().size(), 1u);
    EXPECT_EQ(sim.LiveServerCount(), 1);
    EXPECT_FALSE(doc.IsModified());

    ui.QueueAnswer(IDYES);
    doc.OnDeleteServer();
    EXPECT_EQ(ui.MessageTexts(),
              (std::vector<std::string>{"Delete OPC Server ?", "Delete OPC Server ?"}));
    EXPECT_EQ(ui.Messages()[0].type & MB_TYPEMASK, MB_YESNO);
    EXPECT_TRUE(doc.serverList.ServerRecords().empty());
    EXPECT_TRUE(doc.serverList.Servers().empty());
    EXPECT_EQ(sim.LiveServerCount(), 0);
    EXPECT_EQ(doc.currentServer, nullptr);
    EXPECT_EQ(doc.currentGroup, nullptr);
    EXPECT_EQ(doc.currentItem, nullptr);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(view.updates, (std::vector<RecordingView::Update>{{kHintServerDeleted, nullptr},
                                                                {kHintRemoveTreeNode, &treeNode}}));
    // Ids are never given back.
    EXPECT_EQ(doc.nextServerId, 2);
    EXPECT_EQ(doc.nextGroupId, 2);
}

TEST_F(CommandTest, DeletingAGroupRemovesItOnTheServerAndDropsTheItemSelection) {
    clBaseOPCServer* server = AddServer();
    clBaseOPCGroup* keep = AddGroup(*server, "Keep");
    clBaseOPCGroup* group = AddGroup(*server, "Drop");
    clBaseOPCItem* item = AddItem(*group, "Static.Double");
    int treeNode = 0;
    group->treeItem = &treeNode;
    SelectGroup(*server, *group);
    doc.currentItem = item;
    doc.SetModifiedFlag(false);
    view.updates.clear();

    ui.QueueAnswer(IDNO);
    doc.OnDeleteGroup();
    EXPECT_EQ(server->Groups().size(), 2u);

    ui.QueueAnswer(IDYES);
    doc.OnDeleteGroup();
    ASSERT_EQ(server->Groups().size(), 1u);
    EXPECT_EQ(server->Groups()[0].get(), keep);
    ASSERT_EQ(server->liveServer->Groups().size(), 1u);
    EXPECT_EQ(server->liveServer->Groups()[0].get(), keep->liveGroup);
    EXPECT_EQ(doc.currentGroup, nullptr);
    EXPECT_EQ(doc.currentItem, nullptr);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(view.updates, (std::vector<RecordingView::Update>{{kHintRemoveTreeNode, &treeNode}}));
}

TEST_F(CommandTest, AGroupWhoseStoredServerIdIsWrongIsStillDeleted) {
    clBaseOPCServer* first = AddServer();
    clBaseOPCServer* second = AddServer();
    clBaseOPCGroup* group = AddGroup(*second);
    AddGroup(*first);
    group->serverId = first->id;  // as a damaged or hand-made file may have it
    SelectGroup(*second, *group);
    ui.QueueAnswer(IDYES);
    doc.OnDeleteGroup();
    EXPECT_TRUE(second->Groups().empty());
    EXPECT_TRUE(second->liveServer->Groups().empty());
    EXPECT_EQ(first->Groups().size(), 1u);
    EXPECT_EQ(first->liveServer->Groups().size(), 1u);
}

TEST_F(CommandTest, GroupPropertiesChangeTheLiveGroupAndHintOnlyARealRename) {
    clBaseOPCServer* server = AddServer();
    clBaseOPCGroup* group = AddGroup(*server);
    SelectGroup(*server, *group);
    doc.SetModifiedFlag(false);
    view.updates.clear();

    dialogs.QueueGroupDialog(IDCANCEL);
    doc.OnGroupProperties();
    EXPECT_FALSE(doc.IsModified());

    // Only the case changes: no hint 9, but the record has the new name.
    dialogs.QueueGroupDialog(IDOK, [](clBaseOPCGroup& g) {
        g.name = "group1";
        g.updateRate = 500;
        g.active = 0;
    });
    doc.OnGroupProperties();
    EXPECT_EQ(group->name, "group1");
    EXPECT_EQ(group->liveGroup->updateRate, 500u);
    EXPECT_EQ(group->liveGroup->active, 0);
    EXPECT_EQ(group->liveGroup->name, "Group1");  // a name is never sent again
    EXPECT_TRUE(view.updates.empty());
    EXPECT_TRUE(doc.IsModified());

    dialogs.QueueGroupDialog(IDOK, [](clBaseOPCGroup& g) { g.name = "Pumps"; });
    doc.OnGroupProperties();
    EXPECT_EQ(view.updates, (std::vector<RecordingView::Update>{{kHintGroupRenamed, group}}));
}

TEST_F(CommandTest, WithoutLiveObjectsGroupsChangeOnlyTheirRecordsAndNewOnesAreRefused) {
    clBaseOPCServer* server = AddServer();
    AddGroup(*server);
    SaveBytes("offline.tgv");
    doc.ResetContents();
    MakeServerUnreachable();
    ASSERT_TRUE(doc.OnOpenDocument(files.Path("offline.tgv")));
    ui.Clear();
    view.updates.clear();
    clBaseOPCServer& record = *doc.serverList.ServerRecords().at(0);
    clBaseOPCGroup& group = *record.Groups().at(0);

    SelectGroup(record, group);
    dialogs.QueueGroupDialog(IDOK, [](clBaseOPCGroup& g) {
        g.name = "Renamed";
        g.updateRate = 2000;
    });
    doc.OnGroupProperties();
    EXPECT_EQ(group.name, "Renamed");
    EXPECT_EQ(group.updateRate, 2000);
    EXPECT_EQ(view.updates, (std::vector<RecordingView::Update>{{kHintGroupRenamed, &group}}));

    // No new items without a live group: no dialog, no change.
    doc.SetModifiedFlag(false);
    doc.OnNewItems();
    EXPECT_FALSE(doc.IsModified());

    view.updates.clear();
    SelectServer(record);
    dialogs.QueueGroupDialog(IDOK);
    doc.OnNewGroup();
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"Fail to create new opc group"}));
    EXPECT_EQ(record.Groups().size(), 1u);
    EXPECT_EQ(record.nextGroupNumber, 3);
    EXPECT_TRUE(view.updates.empty());
    EXPECT_EQ(dialogs.PendingSteps(), 0u);
}

TEST_F(CommandTest, NewItemsMarkTheDocumentModifiedWhateverTheDialogAnswers) {
    clBaseOPCServer* server = AddServer();
    clBaseOPCGroup* group = AddGroup(*server);
    SelectGroup(*server, *group);
    doc.SetModifiedFlag(false);

    dialogs.QueueNewItems(IDCANCEL);
    doc.OnNewItems();
    EXPECT_TRUE(doc.IsModified());

    doc.SetModifiedFlag(false);
    dialogs.QueueNewItems(IDOK, [this](CDoc& d, clBaseOPCGroup& g) {
        EXPECT_EQ(&d, &doc);
        AddItem(g, "Signals.Ramp");
    });
    doc.OnNewItems();
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(group->Items().size(), 1u);
    EXPECT_EQ(doc.nextItemId, 2);
    ASSERT_EQ(dialogs.ShownDialogs().size(), 4u);  // server, group, two new-items
    EXPECT_EQ(dialogs.ShownDialogs()[3].kind, Kind::newItems);
}

TEST_F(CommandTest, CommandsAreEnabledByTheSelectionAndRoutedToTheirHandlers) {
    const auto enabled = [this](UINT id) { return CCommandRoute{&doc}.IsEnabled(id); };
    const std::vector<UINT> serverCommands{ID_SERVER_DELETE, ID_SERVER_PROPERTIES, ID_GROUP_ADD};
    const std::vector<UINT> groupCommands{ID_GROUP_DELETE, ID_GROUP_PROPERTIES, ID_TAG_ADD,
                                          ID_TAG_DELETE};
    EXPECT_TRUE(enabled(ID_OPC_NEW));
    EXPECT_TRUE(enabled(ID_SERVER_ADD));
    EXPECT_TRUE(enabled(ID_FILE_SAVE));
    for (UINT id : serverCommands) {
        EXPECT_FALSE(enabled(id)) << id;
    }
    for (UINT id : groupCommands) {
        EXPECT_FALSE(enabled(id)) << id;
    }

    clBaseOPCServer* server = AddServer();
    SelectServer(*server);
    for (UINT id : serverCommands) {
        EXPECT_TRUE(enabled(id)) << id;
    }
    for (UINT id : groupCommands) {
        EXPECT_FALSE(enabled(id)) << id;
    }

    // The route reaches the handlers: the properties dialog shows the current server.
    dialogs.QueueServerProperties();
    EXPECT_TRUE(CCommandRoute{&doc}.Execute(ID_SERVER_PROPERTIES));
    EXPECT_EQ(dialogs.ShownDialogs().back().kind, Kind::serverProperties);
    EXPECT_EQ(dialogs.ShownDialogs().back().subject, kSimulatorProgId);
    EXPECT_TRUE(CCommandRoute{&doc}.Execute(ID_OPC_NEW));
    // Deleting items is the item view's: the document does not carry it out.
    SelectGroup(*server, *AddGroup(*server));
    EXPECT_TRUE(enabled(ID_TAG_DELETE));
    EXPECT_FALSE(CCommandRoute{&doc}.Execute(ID_TAG_DELETE));
    for (UINT id : groupCommands) {
        EXPECT_TRUE(enabled(id)) << id;
    }
    for (UINT id : serverCommands) {
        EXPECT_FALSE(enabled(id)) << id;
    }

    doc.ClearSelection();
    EXPECT_EQ(doc.currentServer, nullptr);
    EXPECT_EQ(doc.currentGroup, nullptr);
    EXPECT_FALSE(enabled(ID_GROUP_DELETE));
    // Handlers called without a selection do nothing.
    doc.OnDeleteServer();
    doc.OnDeleteGroup();
    doc.OnGroupProperties();
    doc.OnNewGroup();
    doc.OnServerProperties();
    EXPECT_EQ(ui.MessageCount(), 0u);
}

TEST_F(CommandTest, ResetContentsEmptiesEverything) {
    clBaseOPCServer* server = AddServer();
    SelectGroup(*server, *AddGroup(*server));
    doc.reservedCounter = 9;
    doc.allowDuplicateItems = 1;
    doc.ResetContents();
    EXPECT_TRUE(doc.serverList.ServerRecords().empty());
    EXPECT_TRUE(doc.serverList.Servers().empty());
    EXPECT_TRUE(doc.columns.Sets().empty());
    EXPECT_EQ(sim.LiveServerCount(), 0);
    EXPECT_EQ(doc.reservedCounter, 1);
    EXPECT_EQ(doc.nextItemId, 1);
    EXPECT_EQ(doc.nextGroupId, 1);
    EXPECT_EQ(doc.nextServerId, 1);
    EXPECT_EQ(doc.nextServerNumber, 1);
    EXPECT_EQ(doc.allowDuplicateItems, 0);
    EXPECT_EQ(doc.currentGroup, nullptr);
    EXPECT_FALSE(doc.groupSelected);

    // A new document starts from there with the default column sets and hint 1.
    view.updates.clear();
    ASSERT_TRUE(doc.OnNewDocument());
    EXPECT_EQ(doc.columns.Sets().size(), 3u);
    EXPECT_EQ(view.Hints(), (std::vector<int>{kHintNewDocument}));
    EXPECT_FALSE(doc.IsModified());
}

}  // namespace
