// In-place editing: opening on a double click through the hook, committing and cancelling
// through OnEditClosed, the cell type's say, and the editor's growth.

#include <gtest/gtest.h>

#include <cctype>

#include <QLineEdit>

#include "grid_support.h"

namespace {

// Refuses any text containing a digit and upper-cases the rest.
class LettersOnly final : public CGridCellType {
  public:
    std::string_view GetName() const override { return "Letters"; }
    bool ValidateEdit(int, int, std::string& text) override {
        if (text.find_first_of("0123456789") != std::string::npos) {
            return false;
        }
        for (char& c : text) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        return true;
    }
};

// Claims every double click and refuses in-place editing.
class Clicker final : public CGridCellType {
  public:
    std::string_view GetName() const override { return "Clicker"; }
    bool OnDoubleClick(int, int) override { return true; }
    bool CanEditInPlace() const override { return false; }
};

class GridEditing : public ::testing::Test {
  protected:
    void SetUp() override {
        grid.SetColumnCount(3);
        grid.SetRowCount(5);
        grid.SetCellText(1, 2, "before");
        ShowGrid(grid);
    }
    QLineEdit* Editor() const {
        for (QLineEdit* edit : grid.GetTableView()->viewport()->findChildren<QLineEdit*>()) {
            if (edit->isVisible()) {
                return edit;
            }
        }
        return nullptr;
    }
    std::string Text(int column, int row) const {
        CGridCell cell;
        grid.ReadCell(column, row, &cell);
        return cell.GetText();
    }
    void DoubleClick(int column, int row) {
        QTest::mouseDClick(grid.GetTableView()->viewport(), Qt::LeftButton, {},
                           CellCenter(grid, column, row));
        QApplication::processEvents();
    }
    void Type(const QString& text, int key) {
        QLineEdit* editor = Editor();
        ASSERT_NE(editor, nullptr);
        editor->selectAll();
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, static_cast<Qt::Key>(key));
        QApplication::processEvents();
    }

    RecordingGrid grid;
};

TEST_F(GridEditing, DoubleClickHookOpensTheEditorAndEnterStoresTheText) {
    grid.editOnDoubleClick = true;
    DoubleClick(1, 2);
    ASSERT_EQ(grid.doubleClicks.size(), 1u);
    EXPECT_EQ(grid.doubleClicks[0].column, 1);
    EXPECT_EQ(grid.doubleClicks[0].row, 2);
    EXPECT_FALSE(grid.doubleClicks[0].processed);
    EXPECT_EQ(grid.doubleClicks[0].cellRect,
              grid.GetTableView()->visualRect(grid.GetTableView()->model()->index(2, 1)));
    ASSERT_TRUE(grid.IsEditing());
    ASSERT_NE(Editor(), nullptr);
    EXPECT_EQ(Editor()->text(), "before");

    Type("after", Qt::Key_Return);
    ASSERT_EQ(grid.edits.size(), 1u);
    EXPECT_EQ(grid.edits[0].column, 1);
    EXPECT_EQ(grid.edits[0].row, 2);
    EXPECT_EQ(grid.edits[0].text, "after");
    EXPECT_FALSE(grid.edits[0].cancelled);
    EXPECT_FALSE(grid.IsEditing());
    EXPECT_EQ(Text(1, 2), "after");
    EXPECT_EQ(grid.GetTableView()->model()->index(2, 1).data().toString(), "after");
}

TEST_F(GridEditing, EscapeCancelsAndTheCellKeepsItsText) {
    grid.GotoCell(1, 2);
    ASSERT_EQ(grid.BeginCellEdit(), GRID_OK);
    Type("typed", Qt::Key_Escape);
    ASSERT_EQ(grid.edits.size(), 1u);
    EXPECT_TRUE(grid.edits[0].cancelled);
    EXPECT_EQ(grid.edits[0].text, "typed");
    EXPECT_FALSE(grid.IsEditing());
    EXPECT_EQ(Text(1, 2), "before");
}

TEST_F(GridEditing, ZeroFromTheHookKeepsTheEditorOpenUntilItAccepts) {
    grid.editResult = 0;
    grid.GotoCell(0, 0);
    ASSERT_EQ(grid.BeginCellEdit(), GRID_OK);
    Type("first", Qt::Key_Return);
    EXPECT_EQ(grid.edits.size(), 1u);
    EXPECT_TRUE(grid.IsEditing());
    EXPECT_EQ(Text(0, 0), "");

    grid.editResult = 1;
    Type("second", Qt::Key_Return);
    ASSERT_EQ(grid.edits.size(), 2u);
    EXPECT_EQ(grid.edits[1].text, "second");
    EXPECT_FALSE(grid.IsEditing());
    EXPECT_EQ(Text(0, 0), "second");
}

TEST_F(GridEditing, TheCellTypeValidatesBeforeTheHookAndHandlesDoubleClicksFirst) {
    const int letters = grid.AddCellType(std::make_unique<LettersOnly>());
    const int clicker = grid.AddCellType(std::make_unique<Clicker>());
    EXPECT_EQ(letters, 1);
    EXPECT_EQ(clicker, 2);
    EXPECT_EQ(grid.AddCellType(nullptr), -1);

    CGridCell cell;
    cell.SetCellTypeIndex(letters);
    grid.WriteCell(2, 1, &cell);
    grid.GotoCell(2, 1);
    ASSERT_EQ(grid.BeginCellEdit(), GRID_OK);
    Type("abc1", Qt::Key_Return);
    EXPECT_TRUE(grid.edits.empty());  // refused by the type: the hook is not asked
    EXPECT_TRUE(grid.IsEditing());
    Type("abc", Qt::Key_Return);
    ASSERT_EQ(grid.edits.size(), 1u);
    EXPECT_EQ(grid.edits[0].text, "ABC");
    EXPECT_EQ(Text(2, 1), "ABC");

    cell.SetCellTypeIndex(clicker);
    grid.WriteCell(0, 3, &cell);
    grid.editOnDoubleClick = true;
    DoubleClick(0, 3);
    ASSERT_EQ(grid.doubleClicks.size(), 1u);
    EXPECT_TRUE(grid.doubleClicks[0].processed);
    EXPECT_FALSE(grid.IsEditing());
}

TEST_F(GridEditing, AutoGrowWidensTheEditorWithItsTextAndOffKeepsTheCellSize) {
    grid.SetColumnWidth(0, 60);
    const QRect cellRect =
        grid.GetTableView()->visualRect(grid.GetTableView()->model()->index(0, 0));
    const QString longText(40, QLatin1Char('W'));

    EXPECT_TRUE(grid.IsEditorAutoGrow());
    grid.GotoCell(0, 0);
    ASSERT_EQ(grid.BeginCellEdit(), GRID_OK);
    ASSERT_NE(Editor(), nullptr);
    EXPECT_EQ(Editor()->geometry().width(), cellRect.width());
    QTest::keyClicks(Editor(), longText);
    const QRect grown = Editor()->geometry();
    EXPECT_GT(grown.width(), cellRect.width());
    EXPECT_EQ(grown.topLeft(), cellRect.topLeft());
    EXPECT_LE(grown.right(), grid.GetTableView()->viewport()->rect().right());
    QTest::keyClick(Editor(), Qt::Key_Escape);
    QApplication::processEvents();

    grid.SetEditorAutoGrow(FALSE);
    ASSERT_EQ(grid.BeginCellEdit(), GRID_OK);
    QTest::keyClicks(Editor(), longText);
    EXPECT_EQ(Editor()->geometry(), cellRect);
}

TEST_F(GridEditing, ARefreshOfTheEditedCellDoesNotOverwriteWhatIsBeingTyped) {
    grid.GotoCell(1, 2);
    ASSERT_EQ(grid.BeginCellEdit(), GRID_OK);
    Editor()->setText("typing");
    grid.SetCellText(1, 2, "refreshed");
    grid.RefreshColumns({1});
    QApplication::processEvents();
    ASSERT_NE(Editor(), nullptr);
    EXPECT_EQ(Editor()->text(), "typing");
}

}  // namespace
