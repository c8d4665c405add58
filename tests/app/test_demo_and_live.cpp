// The demonstration configuration: it is what its generator writes, it opens with every item
// valid, and, served by a real simulator process, its live values reach the grid.
//
// To write examples/demo.tgv again after changing the generator:
//   TGV_WRITE_DEMO=1 test_app --gtest_filter='*DemoConfigurationIsWhatItsGeneratorWrites'

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>

#include <QImage>

#include "app_fixture.h"
#include "demo_config.h"
#include "framework/commands.h"
#include "model/group_record.h"
#include "model/item_record.h"
#include "model/server_record.h"
#include "transport/process_helpers.h"
#include "ui/group_view.h"
#include "ui/item_view.h"

namespace app_test {
namespace {

std::vector<char> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes the demonstration to path, built against the in-process simulator.
void WriteDemo(const std::string& path) {
    CDoc doc;
    ASSERT_TRUE(doc.OnNewDocument());
    ASSERT_TRUE(BuildDemoConfiguration(doc));
    ASSERT_TRUE(doc.OnSaveDocument(path));
}

// The group node of that name under the first server, null when there is none.
QTreeWidgetItem* GroupNode(CGroupView& tree, const char* name) {
    if (tree.topLevelItemCount() == 0) {
        return nullptr;
    }
    QTreeWidgetItem* const server = tree.topLevelItem(0);
    for (int i = 0; i < server->childCount(); ++i) {
        if (server->child(i)->text(0) == name) {
            return server->child(i);
        }
    }
    return nullptr;
}

// The row of the item with that display name in the grid, -1 when it is not listed.
int RowOf(const CItemGrid& grid, const std::string& name) {
    for (int row = 0; row < grid.GetRowCount(); ++row) {
        if (CellText(grid, 0, row) == name) {
            return row;
        }
    }
    return -1;
}

// Every item record of the document, in list order.
std::vector<const clBaseOPCItem*> AllItems(const CDoc& doc) {
    std::vector<const clBaseOPCItem*> items;
    for (const auto& server : doc.serverList.ServerRecords()) {
        for (const auto& group : server->Groups()) {
            for (const auto& item : group->Items()) {
                items.push_back(item.get());
            }
        }
    }
    return items;
}

constexpr int kValueColumn = 3;
constexpr int kStateColumn = 6;

TEST_F(AppTest, DemoConfigurationIsWhatItsGeneratorWrites) {
    const std::string built = files.Path("demo.tgv");
    WriteDemo(built);
    if (std::getenv("TGV_WRITE_DEMO") != nullptr) {
        std::filesystem::copy_file(built, DemoConfigurationPath(),
                                   std::filesystem::copy_options::overwrite_existing);
    }
    const std::vector<char> expected = ReadBytes(built);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(ReadBytes(DemoConfigurationPath()), expected)
        << "examples/demo.tgv is not what the generator writes; see the top of this file";
}

TEST_F(AppTest, DemoConfigurationOpensWithEveryItemValidAndShowsChanges) {
    ASSERT_TRUE(Start(DemoConfigurationPath())) << (ui.LastMessage() ? ui.LastMessage()->text : "");
    EXPECT_EQ(Frame().windowTitle().toStdString(), "demo.tgv - Velmora OPC Tagvista");
    const std::vector<const clBaseOPCItem*> items = AllItems(Doc());
    ASSERT_EQ(items.size(), static_cast<std::size_t>(kDemoItemCount));
    int scaled = 0;
    int withHistory = 0;
    for (const clBaseOPCItem* item : items) {
        EXPECT_EQ(item->state, clBaseOPCItem::stateValid) << item->displayName;
        scaled += item->scaleEnabled ? 1 : 0;
        withHistory += item->history.enabled ? 1 : 0;
    }
    EXPECT_EQ(scaled, 1);
    EXPECT_EQ(withHistory, 2);
    const auto& groups = Doc().serverList.ServerRecords().at(0)->Groups();
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0]->updateRate, kDemoFastRate);
    EXPECT_EQ(groups[1]->updateRate, kDemoPlantRate);

    CGroupView& tree = Frame().GetGroupView();
    QTreeWidgetItem* const fast = GroupNode(tree, kDemoFastGroup);
    ASSERT_NE(fast, nullptr);
    tree.setCurrentItem(fast);
    const CItemGrid& grid = Frame().GetItemView().GetGrid();
    ASSERT_EQ(grid.GetRowCount(), 5);
    const int ramp = RowOf(grid, "Ramp");
    ASSERT_GE(ramp, 0);
    EXPECT_EQ(CellText(grid, kStateColumn, ramp), "Valid");
    const std::string before = CellText(grid, kValueColumn, ramp);

    // The in-process simulator's clock moves by hand; its data changes reach the grid.
    sim.AdvanceTime(std::chrono::milliseconds(kDemoFastRate * 3));
    EXPECT_TRUE(WaitFor([&] { return CellText(grid, kValueColumn, ramp) != before; },
                        std::chrono::seconds(5)))
        << before;
}

TEST_F(AppTest, TagDeleteReachesTheItemViewAlsoWhenTheTreeHasTheFocus) {
    ASSERT_TRUE(Start(DemoConfigurationPath()));
    CGroupView& tree = Frame().GetGroupView();
    QTreeWidgetItem* const fast = GroupNode(tree, kDemoFastGroup);
    ASSERT_NE(fast, nullptr);
    tree.setCurrentItem(fast);
    ASSERT_EQ(Frame().GetActiveView(), static_cast<CView*>(&tree));
    CItemGrid& grid = Frame().GetItemView().GetGrid();
    ASSERT_EQ(grid.GetRowCount(), 5);
    ASSERT_EQ(grid.SelectBlock(0, 0, 6, 0), 0);
    ASSERT_EQ(grid.SelectBlock(0, 2, 6, 4), 0);
    const std::string keptName = CellText(grid, 0, 1);
    Doc().SetModifiedFlag(false);

    ui.QueueAnswer(IDYES);
    EXPECT_TRUE(Frame().RunCommand(ID_TAG_DELETE));
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"Delete selected opc items ?"}));
    ASSERT_EQ(grid.GetRowCount(), 1);
    EXPECT_EQ(CellText(grid, 0, 0), keptName);
    EXPECT_EQ(Doc().serverList.ServerRecords().at(0)->Groups().at(0)->Items().size(), 1u);
    EXPECT_TRUE(Doc().IsModified());
}

TEST_F(AppTest, LiveValuesFromASimulatorProcessReachTheGrid) {
    const std::string path = files.Path("live.tgv");
    WriteDemo(path);
    // From here on the simulator is the opcsim program, started through its registration.
    RevokeSimulatorInProcess();
    ASSERT_EQ(transport_test::RunProgram(OPCSIM_PATH, {"-RegServer"}), 0);

    ASSERT_TRUE(Start(path)) << (ui.LastMessage() ? ui.LastMessage()->text : "");
    for (const clBaseOPCItem* item : AllItems(Doc())) {
        EXPECT_EQ(item->state, clBaseOPCItem::stateValid) << item->displayName;
    }
    CGroupView& tree = Frame().GetGroupView();
    QTreeWidgetItem* const fast = GroupNode(tree, kDemoFastGroup);
    ASSERT_NE(fast, nullptr);
    tree.setCurrentItem(fast);
    const CItemGrid& grid = Frame().GetItemView().GetGrid();
    const int ramp = RowOf(grid, "Ramp");
    const int counter = RowOf(grid, "Counter");
    ASSERT_GE(ramp, 0);
    ASSERT_GE(counter, 0);

    // With the event loop running, successive updates of the 250 ms group change the values.
    std::set<std::string> rampValues;
    std::set<std::string> counterValues;
    const bool changed = WaitFor(
        [&] {
            rampValues.insert(CellText(grid, kValueColumn, ramp));
            counterValues.insert(CellText(grid, kValueColumn, counter));
            return rampValues.size() >= 3 && counterValues.size() >= 3;
        },
        std::chrono::seconds(15));
    EXPECT_TRUE(changed) << rampValues.size() << " ramp and " << counterValues.size()
                         << " counter values seen";
    EXPECT_EQ(CellText(grid, kStateColumn, ramp), "Valid");
    Stop();
}

}  // namespace
}  // namespace app_test

namespace app_test {
namespace {

// The program itself: a picture of its window, with the first group's live values, written
// on request; its options checked before anything starts.
TEST_F(AppTest, ProgramWritesAScreenshotOfItsWindow) {
    RevokeSimulatorInProcess();
    ASSERT_EQ(transport_test::RunProgram(OPCSIM_PATH, {"-RegServer"}), 0);
    // The program keeps its settings under the test's directory, not the user's.
    const char* const oldConfig = std::getenv("XDG_CONFIG_HOME");
    const std::optional<std::string> savedConfig =
        oldConfig != nullptr ? std::optional<std::string>(oldConfig) : std::nullopt;
    ::setenv("XDG_CONFIG_HOME", files.Path("xdg").c_str(), 1);

    const std::string png = files.Path("shot.png");
    const int written = transport_test::RunProgram(
        OPCTAGVISTA_PATH, {DemoConfigurationPath(), "--screenshot", png, "--after", "800"},
        std::chrono::seconds(60));
    const int help = transport_test::RunProgram(OPCTAGVISTA_PATH, {"--help"});
    const int bogus = transport_test::RunProgram(OPCTAGVISTA_PATH, {"--bogus"});
    if (savedConfig) {
        ::setenv("XDG_CONFIG_HOME", savedConfig->c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }

    EXPECT_EQ(written, 0);
    const QImage picture(QString::fromStdString(png));
    ASSERT_FALSE(picture.isNull());
    EXPECT_GE(picture.width(), 800);
    EXPECT_GE(picture.height(), 400);
    EXPECT_EQ(help, 0);
    EXPECT_EQ(bogus, 2);
}

}  // namespace
}  // namespace app_test
