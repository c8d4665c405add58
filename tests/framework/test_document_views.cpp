#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "framework/hints.h"
#include "test_document_support.h"

using Update = RecordingView::Update;

TEST(DocumentViews, UpdateAllViewsCallsEveryViewButTheSenderInOrder) {
    TestDocument doc;
    std::vector<int> order;
    RecordingView tree;
    RecordingView grid;
    RecordingView third;
    tree.onUpdate = [&](int) { order.push_back(1); };
    grid.onUpdate = [&](int) { order.push_back(2); };
    third.onUpdate = [&](int) { order.push_back(3); };
    doc.AddView(&tree);
    doc.AddView(&grid);
    doc.AddView(&third);
    doc.AddView(&grid);  // twice changes nothing
    ASSERT_EQ(doc.GetViews().size(), 3u);
    EXPECT_EQ(grid.GetDocument(), &doc);

    int record = 0;
    doc.UpdateAllViews(nullptr, kHintServerAdded, &record);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(tree.updates, (std::vector<Update>{{nullptr, kHintServerAdded, &record}}));

    order.clear();
    doc.UpdateAllViews(&tree, kHintListGroupItems, &record);
    EXPECT_EQ(order, (std::vector<int>{2, 3}));
    EXPECT_EQ(grid.updates.back(), (Update{&tree, kHintListGroupItems, &record}));
    EXPECT_EQ(tree.updates.size(), 1u);

    order.clear();
    doc.UpdateAllViews(nullptr);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(third.updates.back(), (Update{nullptr, 0, nullptr}));
}

TEST(DocumentViews, ViewsLeavingOrJoiningDuringAnUpdateAreHandledSafely) {
    TestDocument doc;
    RecordingView first;
    auto second = std::make_unique<RecordingView>();
    RecordingView late;
    doc.AddView(&first);
    doc.AddView(second.get());
    // The first view destroys the second and adds another while it updates.
    first.onUpdate = [&](int) {
        second.reset();
        doc.AddView(&late);
    };
    doc.UpdateAllViews(nullptr, kHintNewDocument);
    EXPECT_EQ(first.updates.size(), 1u);
    EXPECT_TRUE(late.updates.empty());
    EXPECT_EQ(doc.GetViews(), (std::vector<CView*>{&first, &late}));

    first.onUpdate = nullptr;
    doc.UpdateAllViews(nullptr, kHintServerDeleted);
    EXPECT_EQ(late.updates, (std::vector<Update>{{nullptr, kHintServerDeleted, nullptr}}));

    // A view moves between documents; removing it detaches it.
    TestDocument other;
    other.AddView(&late);
    EXPECT_EQ(doc.GetViews(), (std::vector<CView*>{&first}));
    EXPECT_EQ(late.GetDocument(), &other);
    other.RemoveView(&late);
    EXPECT_EQ(late.GetDocument(), nullptr);
    EXPECT_TRUE(other.GetViews().empty());
}

TEST(DocumentViews, ADocumentDestroyedBeforeItsViewsDetachesThem) {
    RecordingView view;
    {
        TestDocument doc;
        doc.AddView(&view);
    }
    EXPECT_EQ(view.GetDocument(), nullptr);
    // The view's own destruction then has no document to leave: nothing dangles.
}

TEST(DocumentViews, InitialUpdateReachesEveryViewAsAFullUpdate) {
    TestDocument doc;
    RecordingView tree;
    RecordingView grid;
    doc.AddView(&tree);
    doc.AddView(&grid);
    doc.SendInitialUpdate();
    EXPECT_EQ(tree.initialUpdates, 1);
    EXPECT_EQ(grid.initialUpdates, 1);
    EXPECT_EQ(grid.updates, (std::vector<Update>{{nullptr, 0, nullptr}}));
}

TEST(DocumentState, ModifiedFlagPathAndTitle) {
    TestDocument doc;
    RecordingView view;
    doc.AddView(&view);
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.GetTitle(), "Untitled");
    EXPECT_EQ(doc.GetPathName(), "");
    EXPECT_EQ(FrameTitle(doc, "Velmora OPC Tagvista"), "Untitled - Velmora OPC Tagvista");

    doc.SetModifiedFlag();
    EXPECT_TRUE(doc.IsModified());
    doc.SetModifiedFlag(false);
    EXPECT_FALSE(doc.IsModified());

    // A relative path becomes absolute; the title is the file name alone.
    doc.SetPathName("configs/../plant.tgv", false);
    EXPECT_EQ(doc.GetPathName(), (std::filesystem::current_path() / "plant.tgv").string());
    EXPECT_EQ(doc.GetTitle(), "plant.tgv");
    EXPECT_EQ(FrameTitle(doc, "Velmora OPC Tagvista"), "plant.tgv - Velmora OPC Tagvista");

    doc.SetModifiedFlag();
    EXPECT_TRUE(doc.OnNewDocument());
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.GetPathName(), "");
    EXPECT_EQ(doc.GetTitle(), "Untitled");
    EXPECT_EQ(view.titles, (std::vector<std::string>{"plant.tgv", "Untitled"}));
}
