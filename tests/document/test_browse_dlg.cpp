#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "browse_dlg_counting_server.h"
#include "document/browse_dlg.h"
#include "document_fixture.h"
#include "framework/hints.h"
#include "opc/browse_walk.h"
#include "opcda/errors.h"
#include "opcda/ids.h"

namespace {

class BrowseDlgTest : public DocumentTest {
  protected:
    void SetUp() override {
        DocumentTest::SetUp();
        dialogs.QueueServer(kCountingBrowseProgId);
        const std::int32_t id = doc.nextServerId;
        doc.OnNewServer();
        server = doc.serverList.FindServerRecord(id);
        ASSERT_NE(server, nullptr);
        group = AddGroup(*server, "Items");
        ASSERT_NE(group, nullptr);
        ASSERT_NE(group->liveGroup, nullptr);
        view.updates.clear();
        ui.Clear();
    }

    static std::size_t Find(const CBrowseDlg& dlg, const std::string& path) {
        const auto& nodes = dlg.Nodes();
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            if (nodes[i].path == path) {
                return i;
            }
        }
        ADD_FAILURE() << "no node " << path;
        return CBrowseDlg::kRoot;
    }
    static std::vector<std::string> Labels(const CBrowseDlg& dlg, std::size_t node) {
        std::vector<std::string> labels;
        for (const std::size_t child : dlg.Nodes()[node].children) {
            labels.push_back(dlg.Nodes()[child].label);
        }
        return labels;
    }
    static std::vector<std::string> LeafNames(const CBrowseDlg& dlg) {
        std::vector<std::string> names;
        for (const auto& leaf : dlg.Leaves()) {
            names.push_back(leaf.name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // Selects the leaves with these names.
    static void Choose(CBrowseDlg& dlg, const std::vector<std::string>& names) {
        for (std::size_t i = 0; i < dlg.Leaves().size(); ++i) {
            const bool wanted =
                std::find(names.begin(), names.end(), dlg.Leaves()[i].name) != names.end();
            dlg.SetLeafChosen(i, wanted);
        }
    }

    BrowseCallLog log;
    ScopedCountingBrowseServer counting{sim, log};
    clBaseOPCServer* server = nullptr;
    clBaseOPCGroup* group = nullptr;
};

TEST_F(BrowseDlgTest, TreeListsEachNodeOnceAndOneLevelAhead) {
    CBrowseDlg dlg(doc, *group);
    dlg.OnInitDialog();
    EXPECT_EQ(dlg.Nodes()[CBrowseDlg::kRoot].label, kCountingBrowseProgId);
    EXPECT_EQ(Labels(dlg, CBrowseDlg::kRoot),
              (std::vector<std::string>{"Signals", "Static", "Access", "Plant", "Dotted.Branch",
                                        "Load"}));
    EXPECT_EQ(log.branchListings, (std::vector<std::string>{""}));
    EXPECT_TRUE(dlg.Leaves().empty());  // nothing selected yet
    EXPECT_EQ(log.leafListings, 0);

    // Unfolding the root lists each child's branches, so the tree knows Plant can unfold.
    dlg.OnItemExpanding(CBrowseDlg::kRoot);
    EXPECT_EQ(log.branchListings, (std::vector<std::string>{"", "Signals", "Static", "Access",
                                                            "Plant", "Dotted.Branch", "Load"}));
    const std::size_t plant = Find(dlg, "Plant");
    EXPECT_EQ(Labels(dlg, plant), (std::vector<std::string>{"Area1", "Area2"}));
    EXPECT_FALSE(dlg.Nodes()[Find(dlg, "Signals")].HasChildren());
    EXPECT_EQ(log.leafListings, 1);

    // Folding and unfolding again lists nothing that has children already; the childless ones
    // are asked again, as a listing that found nothing may find something later.
    const std::size_t before = log.branchListings.size();
    dlg.OnItemExpanding(CBrowseDlg::kRoot);
    EXPECT_EQ(log.branchListings.size() - before, 5u);  // all but Plant
    EXPECT_EQ(std::count(log.branchListings.begin(), log.branchListings.end(), "Plant"), 1);

    dlg.OnItemExpanding(plant);
    EXPECT_EQ(Labels(dlg, Find(dlg, "Plant.Area1")), (std::vector<std::string>{"Line1"}));
    EXPECT_EQ(dlg.Nodes()[Find(dlg, "Plant.Area1.Line1")].path, "Plant.Area1.Line1");
    EXPECT_TRUE(ui.MessageTexts().empty());
}

TEST_F(BrowseDlgTest, BranchWithDotInItsNameIsReachedAndCriteriaFilterLeaves) {
    CBrowseDlg dlg(doc, *group);
    dlg.OnInitDialog();
    dlg.OnItemExpanding(CBrowseDlg::kRoot);
    const std::size_t dotted = Find(dlg, "Dotted.Branch");
    // Its listing ran at the branch itself, not at the top: no bogus children.
    EXPECT_FALSE(dlg.Nodes()[dotted].HasChildren());
    dlg.OnSelectionChanged(dotted);
    EXPECT_EQ(LeafNames(dlg), (std::vector<std::string>{"Value"}));
    Choose(dlg, {"Value"});
    EXPECT_EQ(dlg.OnAdd(), 1);
    ASSERT_EQ(group->Items().size(), 1u);
    EXPECT_EQ(group->Items()[0]->opcItemId, "Dotted.Branch.Value");
    EXPECT_EQ(group->Items()[0]->state, clBaseOPCItem::stateValid);

    dlg.OnItemExpanding(Find(dlg, "Plant"));
    const std::size_t line = Find(dlg, "Plant.Area1.Line1");
    dlg.OnSelectionChanged(line);
    EXPECT_EQ(LeafNames(dlg), (std::vector<std::string>{"Pressure", "Running", "Temperature"}));

    // Typed criteria count only once pulled: unfolding does not pull, selecting does.
    dlg.criteria = "Temp";
    dlg.OnItemExpanding(line);
    EXPECT_EQ(dlg.Leaves().size(), 3u);
    dlg.OnSelectionChanged(line);
    EXPECT_EQ(LeafNames(dlg), (std::vector<std::string>{"Temperature"}));
    dlg.criteria = "temp";  // case counts
    dlg.OnSelectionChanged(line);
    EXPECT_TRUE(dlg.Leaves().empty());
    dlg.criteria = "";
    dlg.OnSelectionChanged(Find(dlg, "Plant.Area2"));  // a branch without leaves
    EXPECT_TRUE(dlg.Leaves().empty());

    // A failed listing keeps the grid as it was.
    dlg.OnSelectionChanged(line);
    sim.Faults().callResults["BrowseOPCItemIDs"] = E_FAIL;
    dlg.OnSelectionChanged(Find(dlg, "Signals"));
    EXPECT_EQ(dlg.Leaves().size(), 3u);
    EXPECT_TRUE(ui.WasShown("Error from BrowseItemIDs"));
}

TEST_F(BrowseDlgTest, AddTakesIdsFromTheDocumentAndRefusesDuplicatesUnlessAllowed) {
    doc.nextItemId = 40;
    CBrowseDlg dlg(doc, *group);
    dlg.OnInitDialog();
    EXPECT_EQ(dlg.allowDuplicates, 0);
    dlg.OnSelectionChanged(Find(dlg, "Static"));

    EXPECT_EQ(dlg.OnAdd(), 0);  // nothing chosen: no records, no update
    EXPECT_TRUE(view.updates.empty());

    Choose(dlg, {"Float", "Bool"});
    EXPECT_EQ(dlg.OnAdd(), 2);
    EXPECT_EQ(doc.nextItemId, 42);
    ASSERT_EQ(group->Items().size(), 2u);
    const clBaseOPCItem& first = *group->Items()[0];  // sorted by display name
    EXPECT_EQ(first.displayName, "Static.Bool");
    EXPECT_EQ(first.opcItemId, "Static.Bool");
    EXPECT_EQ(first.active, 1);
    EXPECT_EQ(first.state, clBaseOPCItem::stateValid);
    EXPECT_EQ(first.requestedType, VT_EMPTY);
    EXPECT_EQ(first.canonicalType, VT_BOOL);
    EXPECT_EQ(first.accessRights, 3u);
    const std::vector<std::int32_t> ids{group->Items()[0]->id, group->Items()[1]->id};
    EXPECT_TRUE(
        (ids == std::vector<std::int32_t>{40, 41} || ids == std::vector<std::int32_t>{41, 40}));
    EXPECT_NE(group->liveGroup->FindItem(40), nullptr);
    EXPECT_NE(group->liveGroup->FindItem(41), nullptr);
    EXPECT_EQ(view.updates, (std::vector<RecordingView::Update>{{kHintListGroupItems, group}}));

    // Refused duplicates are skipped silently and take no id.
    EXPECT_EQ(dlg.OnAdd(), 0);
    EXPECT_EQ(doc.nextItemId, 42);
    EXPECT_EQ(group->Items().size(), 2u);

    // Allowed, each press adds them again under new ids; the document keeps the choice.
    dlg.allowDuplicates = 1;
    dlg.OnAllowDuplicatesClicked();
    EXPECT_EQ(doc.allowDuplicateItems, 1);
    EXPECT_EQ(dlg.OnAdd(), 2);
    EXPECT_EQ(group->Items().size(), 4u);
    EXPECT_EQ(doc.nextItemId, 44);
    CBrowseDlg again(doc, *group);
    again.OnInitDialog();
    EXPECT_EQ(again.allowDuplicates, 1);
    EXPECT_TRUE(ui.MessageTexts().empty());
}

TEST_F(BrowseDlgTest, ItemsTheServerRefusesAreRecordedInvalid) {
    sim.Faults().itemErrors["Static.Double"] = OPC_E_UNKNOWNITEMID;
    CBrowseDlg dlg(doc, *group);
    dlg.OnInitDialog();
    dlg.OnSelectionChanged(Find(dlg, "Static"));
    Choose(dlg, {"Double", "Int16"});
    EXPECT_EQ(dlg.OnAdd(), 2);
    ASSERT_EQ(group->Items().size(), 2u);
    const clBaseOPCItem& refused = *group->Items()[0];
    EXPECT_EQ(refused.opcItemId, "Static.Double");
    EXPECT_EQ(refused.state, CBrowseDlg::kStateInvalid);
    EXPECT_EQ(refused.GetPropertyText("state"), "Invalid");
    EXPECT_EQ(refused.accessRights, 0u);
    EXPECT_EQ(refused.canonicalType, VT_EMPTY);
    EXPECT_EQ(refused.requestedType, VT_EMPTY);
    EXPECT_EQ(group->liveGroup->FindItem(refused.id), nullptr);
    const clBaseOPCItem& accepted = *group->Items()[1];
    EXPECT_EQ(accepted.state, clBaseOPCItem::stateValid);
    EXPECT_EQ(accepted.canonicalType, VT_I2);
    EXPECT_EQ(accepted.id + refused.id, 1 + 2);  // both took an id
    EXPECT_EQ(doc.nextItemId, 3);

    // A leaf whose id the server cannot give is skipped.
    sim.Faults().callResults["GetItemID"] = E_FAIL;
    dlg.allowDuplicates = 1;
    EXPECT_EQ(dlg.OnAdd(), 0);
    EXPECT_EQ(group->Items().size(), 2u);
}

TEST_F(BrowseDlgTest, ClimbIsBoundedWhenTheServerNeverRefusesAMoveUp) {
    sim.Faults().neverRefuseBrowseUp = true;
    CBrowseDlg dlg(doc, *group);
    dlg.OnInitDialog();
    EXPECT_FALSE(dlg.Nodes()[CBrowseDlg::kRoot].children.empty());
    EXPECT_LE(log.moves, kMaxClimbSteps + 1);
    const int before = log.moves;
    dlg.OnSelectionChanged(Find(dlg, "Static"));
    EXPECT_LE(log.moves - before, kMaxClimbSteps + 1);
    EXPECT_FALSE(dlg.Leaves().empty());
}

TEST_F(BrowseDlgTest, WithoutTheBrowseInterfaceOnlyTheRootShows) {
    sim.Faults().missingInterfaces.insert(IID_IOPCBrowseServerAddressSpace);
    // The plain simulation server, which honours the missing interface itself.
    clBaseOPCServer* plain = AddServer();
    ASSERT_NE(plain, nullptr);
    clBaseOPCGroup* other = AddGroup(*plain, "Plain");
    ASSERT_NE(other, nullptr);
    CBrowseDlg dlg(doc, *other);
    dlg.OnInitDialog();
    EXPECT_EQ(dlg.Nodes().size(), 1u);
    dlg.OnSelectionChanged(CBrowseDlg::kRoot);
    dlg.OnItemExpanding(CBrowseDlg::kRoot);
    EXPECT_TRUE(dlg.Leaves().empty());
    EXPECT_EQ(dlg.OnAdd(), 0);
    EXPECT_TRUE(ui.MessageTexts().empty());
}

}  // namespace
