// The cell record and the cell store: what is set, what is inherited, and where cells live.

#include <gtest/gtest.h>

#include "grid/grid_cell.h"
#include "grid/grid_store.h"

namespace {

TEST(GridCell, CopiesAreIndependentValues) {
    CGridCell original;
    original.SetText("one");
    original.SetFont(QFont("Serif", 14));
    original.SetBackColor(Qt::red);

    CGridCell copy = original;
    EXPECT_EQ(copy, original);
    copy.SetFont(QFont("Sans", 9));
    copy.SetText("two");
    EXPECT_EQ(original.GetFont()->pointSize(), 14);
    EXPECT_EQ(original.GetText(), "one");
    EXPECT_NE(copy, original);

    CGridCell assigned;
    assigned = original;
    EXPECT_EQ(assigned, original);
    ASSERT_NE(assigned.GetBackColor(), nullptr);
    EXPECT_EQ(*assigned.GetBackColor(), QColor(Qt::red));
}

TEST(GridCell, MergeFromCopiesOnlyWhatTheOtherSets) {
    int payload = 0;
    CGridCell target;
    target.SetText("old");
    target.SetNoEdit(true);
    target.SetData(&payload);

    CGridCell update;
    update.SetText("new");
    target.MergeFrom(update);
    EXPECT_EQ(target.GetText(), "new");
    EXPECT_TRUE(target.IsNoEdit());
    EXPECT_EQ(target.GetData(), &payload);
}

TEST(GridStore, AddressesDataCellsHeaderRowAndRowHeaderColumns) {
    CGridStore store;
    store.SetColumnCount(3);
    store.SetRowCount(2);
    store.SetRowHeaderColumnCount(2);

    EXPECT_TRUE(store.Contains(0, 0));
    EXPECT_TRUE(store.Contains(2, 1));
    EXPECT_TRUE(store.Contains(1, -1));   // a column title
    EXPECT_TRUE(store.Contains(-2, 1));   // the outer row-header column
    EXPECT_TRUE(store.Contains(-1, -1));  // corner
    EXPECT_FALSE(store.Contains(3, 0));
    EXPECT_FALSE(store.Contains(0, 2));
    EXPECT_FALSE(store.Contains(-3, 0));
    EXPECT_FALSE(store.Contains(0, -2));

    EXPECT_TRUE(store.SetText(1, -1, "Title"));
    EXPECT_TRUE(store.SetText(-2, 1, "outer"));
    EXPECT_TRUE(store.SetText(-1, 1, "inner"));
    EXPECT_FALSE(store.SetText(3, 0, "outside"));
    EXPECT_EQ(store.EffectiveText(1, -1), "Title");
    EXPECT_EQ(store.EffectiveText(-2, 1), "outer");
    EXPECT_EQ(store.EffectiveText(-1, 1), "inner");
    EXPECT_EQ(store.EffectiveText(1, 0), "");
    EXPECT_EQ(store.Find(1, 0), nullptr);  // never written: no storage
}

TEST(GridStore, ReadGivesOwnPropertiesAndDisplayInheritsTheDefault) {
    CGridStore store;
    store.SetColumnCount(2);
    store.SetRowCount(1);
    CGridCell format;
    format.SetText("-");
    format.SetNoEdit(true);
    store.SetDefaultFormat(format);

    CGridCell cell;
    cell.SetText("stale");
    ASSERT_TRUE(store.Read(0, 0, cell));
    EXPECT_TRUE(cell.IsEmpty());  // own properties only, and the record was overwritten
    EXPECT_EQ(store.EffectiveText(0, 0), "-");
    EXPECT_TRUE(store.IsReadOnly(0, 0));

    CGridCell own;
    own.SetNoEdit(false);
    store.Write(0, 0, own);
    EXPECT_FALSE(store.IsReadOnly(0, 0));
    EXPECT_EQ(store.EffectiveText(0, 0), "-");
}

TEST(GridStore, SetTextKeepsTheCellsOtherProperties) {
    CGridStore store;
    store.SetColumnCount(1);
    store.SetRowCount(1);
    int payload = 0;
    CGridCell cell;
    cell.SetText("a");
    cell.SetNoEdit(true);
    cell.SetData(&payload);
    store.Write(0, 0, cell);

    store.SetText(0, 0, "b");
    CGridCell read;
    store.Read(0, 0, read);
    EXPECT_EQ(read.GetText(), "b");
    EXPECT_TRUE(read.IsNoEdit());
    EXPECT_EQ(read.GetData(), &payload);
}

TEST(GridStore, RemovedRowsAndColumnsComeBackEmpty) {
    CGridStore store;
    store.SetColumnCount(3);
    store.SetRowCount(3);
    store.SetRowHeaderColumnCount(2);
    store.SetText(2, 1, "gone column");
    store.SetText(0, 2, "gone row");
    store.SetText(2, -1, "gone title");
    store.SetText(-2, 0, "gone heading");

    store.SetColumnCount(2);
    store.SetRowCount(2);
    store.SetRowHeaderColumnCount(1);
    store.SetColumnCount(3);
    store.SetRowCount(3);
    store.SetRowHeaderColumnCount(2);
    EXPECT_EQ(store.EffectiveText(2, 1), "");
    EXPECT_EQ(store.EffectiveText(0, 2), "");
    EXPECT_EQ(store.EffectiveText(2, -1), "");
    EXPECT_EQ(store.EffectiveText(-2, 0), "");
}

TEST(GridStore, InsertRowShiftsTheRowsBelow) {
    CGridStore store;
    store.SetColumnCount(1);
    store.SetRowCount(2);
    store.SetText(0, 0, "first");
    store.SetText(0, 1, "second");
    store.SetText(-1, 1, "2");

    store.InsertRow(1);
    store.InsertRow(3);  // append
    ASSERT_EQ(store.RowCount(), 4);
    EXPECT_EQ(store.EffectiveText(0, 0), "first");
    EXPECT_EQ(store.EffectiveText(0, 1), "");
    EXPECT_EQ(store.EffectiveText(0, 2), "second");
    EXPECT_EQ(store.EffectiveText(-1, 2), "2");
    EXPECT_EQ(store.EffectiveText(0, 3), "");
}

TEST(GridStore, DataCellsPreferTheGridFontAndHeadingsTheDefaultFormatsFont) {
    CGridStore store;
    store.SetColumnCount(1);
    store.SetRowCount(1);
    EXPECT_EQ(store.EffectiveFont(0, 0), nullptr);

    const QFont cellFont("Sans", 9);
    QFont headerFont("Sans", 9);
    headerFont.setWeight(QFont::DemiBold);
    CGridCell format;
    format.SetFont(headerFont);
    store.SetDefaultFormat(format);
    ASSERT_NE(store.EffectiveFont(0, 0), nullptr);
    EXPECT_EQ(*store.EffectiveFont(0, 0), headerFont);  // no grid font yet

    store.SetGridFont(cellFont);
    EXPECT_EQ(*store.EffectiveFont(0, 0), cellFont);
    EXPECT_EQ(*store.EffectiveFont(0, -1), headerFont);
    EXPECT_EQ(*store.EffectiveFont(-1, 0), headerFont);

    const QFont own("Serif", 20);
    CGridCell cell;
    cell.SetFont(own);
    store.Write(0, -1, cell);
    EXPECT_EQ(*store.EffectiveFont(0, -1), own);
}

}  // namespace
