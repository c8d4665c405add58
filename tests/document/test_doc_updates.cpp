// Data changes from the server reaching the item records, and the one hint per delivery while
// a group is selected.

#include <algorithm>
#include <vector>

#include "document_fixture.h"
#include "framework/hints.h"
#include "opcda/quality.h"

namespace {

using UpdateTest = DocumentTest;

TEST_F(UpdateTest, DataChangesReachTheRecordsWithOneHintWhileAGroupIsSelected) {
    clBaseOPCServer* server = AddServer();
    clBaseOPCGroup* group = AddGroup(*server, "Fast", 1000);
    clBaseOPCItem* ramp = AddItem(*group, "Signals.Ramp");
    clBaseOPCItem* text = AddItem(*group, "Signals.Text");
    clBaseOPCGroup* other = AddGroup(*server, "Other", 1000);
    clBaseOPCItem* counter = AddItem(*other, "Signals.Counter");
    ASSERT_TRUE(ramp && text && counter);
    ramp->history.enabled = true;
    SelectGroup(*server, *group);
    view.updates.clear();

    sim.AdvanceTime(1000ms);
    // Two groups delivered once each: one hint per delivery, no object.
    EXPECT_EQ(view.updates, (std::vector<RecordingView::Update>{{kHintValuesChanged, nullptr},
                                                                {kHintValuesChanged, nullptr}}));
    for (const clBaseOPCItem* item : {ramp, text, counter}) {
        EXPECT_EQ(item->GetPropertyText("quality"), "Good") << item->displayName;
        EXPECT_NE(item->GetPropertyText("timestamp"), "2000-01-01 00:00:00.000");
    }
    EXPECT_FALSE(text->valueText.empty());
    EXPECT_EQ(ramp->history.GetCount(), ramp->value != 0.0 ? 1u : 0u);

    // The record follows the live item's value.
    const COPCItem& live = *group->liveGroup->Items()[0];
    ASSERT_EQ(live.itemIdNumber, ramp->id);
    EXPECT_EQ(ramp->value, ReceivedNumber(live.Value()));

    // Nothing selected: the records still change, the views hear nothing.
    doc.ClearSelection();
    view.updates.clear();
    const double before = counter->value;
    sim.AdvanceTime(1000ms);
    EXPECT_TRUE(view.updates.empty());
    EXPECT_NE(counter->value, before);
}

TEST_F(UpdateTest, AChangeForAnItemWithoutRecordIsIgnored) {
    clBaseOPCServer* server = AddServer();
    clBaseOPCGroup* group = AddGroup(*server);
    clBaseOPCItem* kept = AddItem(*group, "Signals.Counter");
    clBaseOPCItem* dropped = AddItem(*group, "Signals.Ramp");
    ASSERT_TRUE(kept && dropped);
    // The record goes, the live item stays: its changes find nothing.
    group->RemoveItem(dropped);
    sim.AdvanceTime(1000ms);
    EXPECT_EQ(kept->GetPropertyText("quality"), "Good");
    EXPECT_EQ(group->Items().size(), 1u);

    // A live item of a live server without record (a server record deleted by hand).
    COPCItem& live = *group->liveGroup->Items()[1];
    live.itemIdNumber = 999;
    doc.OnItemUpdate(live);
    EXPECT_EQ(group->Items().size(), 1u);
}

}  // namespace
