// Browsing a server's address space: moving the position, listing branches and leaves, full
// item ids, the walk of the new items dialog, and the messages of failed listings.

#include <algorithm>
#include <string>
#include <vector>

#include "opc/browse_walk.h"
#include "opcda/ids.h"
#include "runtime_fixture.h"

namespace {

using BrowseTest = RuntimeTest;

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(BrowseTest, ListsBranchesAndLeavesAndNamesFullItemIds) {
    auto server = Connected();
    server->SetBrowseFilter("*", VT_EMPTY, 0);
    std::vector<std::string> names{"stale"};
    ASSERT_TRUE(server->ListBrowseNames(OPC_BRANCH, names));
    for (const char* branch : {"Signals", "Static", "Access", "Plant", "Dotted.Branch", "Load"}) {
        EXPECT_NE(std::find(names.begin(), names.end(), branch), names.end()) << branch;
    }
    EXPECT_EQ(std::find(names.begin(), names.end(), "stale"), names.end());

    EXPECT_TRUE(server->MoveBrowsePosition(OPC_BROWSE_DOWN, "Plant"));
    ASSERT_TRUE(server->ListBrowseNames(OPC_BRANCH, names));
    EXPECT_EQ(Sorted(names), (std::vector<std::string>{"Area1", "Area2"}));
    EXPECT_TRUE(server->MoveBrowsePosition(OPC_BROWSE_DOWN, "Area1"));
    EXPECT_TRUE(server->MoveBrowsePosition(OPC_BROWSE_DOWN, "Line1"));
    ASSERT_TRUE(server->ListBrowseNames(OPC_LEAF, names));
    EXPECT_EQ(Sorted(names), (std::vector<std::string>{"Pressure", "Running", "Temperature"}));
    EXPECT_EQ(server->GetFullItemId("Temperature"), "Plant.Area1.Line1.Temperature");
    EXPECT_EQ(server->GetFullItemId("Nothing"), "");

    // The browse settings are passed on: a filter text and an access-rights filter.
    EXPECT_TRUE(server->MoveBrowsePosition(OPC_BROWSE_UP, ""));
    EXPECT_TRUE(server->MoveBrowsePosition(OPC_BROWSE_UP, ""));
    EXPECT_TRUE(server->MoveBrowsePosition(OPC_BROWSE_UP, ""));
    EXPECT_FALSE(server->MoveBrowsePosition(OPC_BROWSE_UP, ""));  // the top refuses
    EXPECT_FALSE(server->MoveBrowsePosition(OPC_BROWSE_DOWN, "NoSuchBranch"));
    EXPECT_TRUE(server->MoveBrowsePosition(OPC_BROWSE_DOWN, "Access"));
    server->SetBrowseFilter("*Write*", VT_EMPTY, OPC_WRITEABLE);
    ASSERT_TRUE(server->ListBrowseNames(OPC_LEAF, names));
    EXPECT_EQ(Sorted(names), (std::vector<std::string>{"ReadWrite", "WriteOnly"}));

    // Nothing that passes: S_FALSE with an empty enumerator, an empty list and no message.
    server->SetBrowseFilter("zzz*", VT_EMPTY, 0);
    ASSERT_TRUE(server->ListBrowseNames(OPC_LEAF, names));
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(ui.MessageCount(), 0u);
    EXPECT_EQ(LeakedTaskBlocks(), 0u);
}

TEST_F(BrowseTest, FailedListingsReportAndKeepWhatTheyHad) {
    auto server = Connected();
    server->SetBrowseFilter("*", VT_EMPTY, 0);
    std::vector<std::string> names{"kept"};
    sim.Faults().callResults["BrowseOPCItemIDs"] = E_FAIL;
    EXPECT_FALSE(server->ListBrowseNames(OPC_BRANCH, names));
    EXPECT_EQ(names, (std::vector<std::string>{"kept"}));
    std::vector<std::string> leaves{"kept"};
    EXPECT_FALSE(ListLeaves(*server, "", VT_EMPTY, 0, leaves));
    EXPECT_EQ(leaves, (std::vector<std::string>{"kept"}));
    sim.Faults().callResults.clear();

    // The enumerator fails half way: the names before the failure are used.
    sim.Faults().enumFailAfter = 2;
    sim.Faults().enumFailure = E_OUTOFMEMORY;
    ASSERT_TRUE(server->ListBrowseNames(OPC_BRANCH, names));
    EXPECT_EQ(names.size(), 2u);
    std::vector<std::string> shown;
    GoToPath(*server, "Static");
    ASSERT_TRUE(ListLeaves(*server, "", VT_EMPTY, 0, leaves, [&](const auto& list) {
        shown = list;
        EXPECT_EQ(ui.MessageCount(), 3u);  // the grid is filled before the failure is shown
    }));
    EXPECT_EQ(leaves.size(), 2u);
    EXPECT_EQ(shown, leaves);

    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{
                                     "Error from BrowseItemIDs",
                                     "Error from BrowseItemIDs",
                                     "Erorr from Next(8007000e)",
                                     "Erorr from Next(8007000e)",
                                 }));
    EXPECT_EQ(LeakedTaskBlocks(), 0u);
}

TEST_F(BrowseTest, WithoutTheBrowseInterfaceEverythingQuietlyComesBackEmpty) {
    auto server = Connected();
    sim.Faults().missingInterfaces.insert(IID_IOPCBrowseServerAddressSpace);
    std::vector<std::string> names{"kept"};
    EXPECT_FALSE(server->MoveBrowsePosition(OPC_BROWSE_DOWN, "Plant"));
    EXPECT_FALSE(server->ListBrowseNames(OPC_BRANCH, names));
    EXPECT_EQ(server->GetFullItemId("Ramp"), "");
    EXPECT_FALSE(ListLeaves(*server, "", VT_EMPTY, 0, names));
    EXPECT_EQ(names, (std::vector<std::string>{"kept"}));
    EXPECT_EQ(ClimbToTop(*server), 0);
    EXPECT_EQ(ui.MessageCount(), 0u);

    COPCServer disconnected(&host);
    EXPECT_FALSE(disconnected.ListBrowseNames(OPC_LEAF, names));
    EXPECT_EQ(disconnected.GetFullItemId("x"), "");
}

TEST_F(BrowseTest, TheDialogsWalkClimbsDescendsAndFiltersLeaves) {
    auto server = Connected();
    GoToPath(*server, "Plant.Area1.Line1");
    std::vector<std::string> leaves;
    ASSERT_TRUE(ListLeaves(*server, "", VT_EMPTY, 0, leaves));
    EXPECT_EQ(Sorted(leaves), (std::vector<std::string>{"Pressure", "Running", "Temperature"}));
    // Criteria are a case-sensitive substring.
    ASSERT_TRUE(ListLeaves(*server, "Temp", VT_EMPTY, 0, leaves));
    EXPECT_EQ(leaves, (std::vector<std::string>{"Temperature"}));
    ASSERT_TRUE(ListLeaves(*server, "temp", VT_EMPTY, 0, leaves));
    EXPECT_TRUE(leaves.empty());
    ASSERT_TRUE(ListLeaves(*server, "e", VT_R4, 0, leaves));
    EXPECT_EQ(leaves, (std::vector<std::string>{"Pressure"}));

    EXPECT_EQ(ClimbToTop(*server), 3);
    EXPECT_EQ(ClimbToTop(*server), 0);

    // A refused step does not stop the descent.
    GoToPath(*server, "Plant.Nowhere.Area1");
    EXPECT_EQ(server->GetFullItemId("Line1"), "Plant.Area1.Line1");
    ClimbToTop(*server);

    // A branch whose own name holds "." splits into pieces that lead nowhere.
    GoToPath(*server, "Dotted.Branch");
    ASSERT_TRUE(ListLeaves(*server, "", VT_EMPTY, 0, leaves));
    EXPECT_TRUE(leaves.empty());
    EXPECT_EQ(ClimbToTop(*server), 0);

    // A server that never refuses a move up cannot hold the climb.
    sim.Faults().neverRefuseBrowseUp = true;
    EXPECT_EQ(ClimbToTop(*server), kMaxClimbSteps);
    EXPECT_EQ(ui.MessageCount(), 0u);
    EXPECT_EQ(LeakedTaskBlocks(), 0u);
}

TEST(BrowsePath, SplitsAndJoinsAtEveryDot) {
    EXPECT_TRUE(SplitBrowsePath("").empty());
    EXPECT_EQ(SplitBrowsePath("A"), (std::vector<std::string>{"A"}));
    EXPECT_EQ(SplitBrowsePath("A.B.C"), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(SplitBrowsePath("A..B."), (std::vector<std::string>{"A", "", "B", ""}));
    EXPECT_EQ(JoinBrowsePath("", "Device1"), "Device1");
    EXPECT_EQ(JoinBrowsePath("Device1", "Group2"), "Device1.Group2");
}

}  // namespace
