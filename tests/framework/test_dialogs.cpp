#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/dialog.h"
#include "framework/scripted_dialog.h"
#include "framework/scripted_ui.h"

namespace {

// A dialog whose name field must not be empty.
class NameDialog final : public IDialogModel {
  public:
    std::string_view GetDialogName() const override { return "name"; }
    void OnInitDialog() override { calls.push_back("init"); }
    bool OnOK() override {
        calls.push_back("ok");
        if (name.empty()) {
            AfxMessageBox("The name is empty");
            return false;
        }
        accepted = name;
        return true;
    }
    void OnCancel() override { calls.push_back("cancel"); }

    std::string name;
    std::string accepted;
    std::vector<std::string> calls;
};

class OtherDialog final : public IDialogModel {
  public:
    std::string_view GetDialogName() const override { return "other"; }
};

}  // namespace

TEST(ScriptedDialogs, StepsFillTheModelAndAnswer) {
    ScriptedUiServices ui;
    const ScopedUiServices installedUi(ui);
    ScriptedDialogHost host;
    const ScopedDialogHost installed(host);

    // A refused OK keeps the dialog open for the next step.
    host.QueueOk<NameDialog>([](NameDialog& d) { d.name = ""; });
    host.QueueOk<NameDialog>([](NameDialog& d) { d.name = "Pumps"; });
    NameDialog first;
    EXPECT_EQ(DoModal(first), IDOK);
    EXPECT_EQ(first.accepted, "Pumps");
    EXPECT_EQ(first.calls, (std::vector<std::string>{"init", "ok", "ok"}));
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"The name is empty"}));

    // Cancel, even after editing; a dialog with no step left is cancelled.
    host.QueueCancel<NameDialog>([](NameDialog& d) { d.name = "Ignored"; });
    NameDialog second;
    EXPECT_EQ(DoModal(second), IDCANCEL);
    EXPECT_EQ(second.accepted, "");
    NameDialog third;
    EXPECT_EQ(DoModal(third), IDCANCEL);
    EXPECT_EQ(third.calls, (std::vector<std::string>{"init", "cancel"}));

    // A typed step given another dialog is a script mistake: counted, the dialog cancelled.
    host.QueueOk<NameDialog>([](NameDialog& d) { d.name = "x"; });
    OtherDialog other;
    EXPECT_EQ(DoModal(other), IDCANCEL);
    EXPECT_EQ(host.ScriptErrors(), 1u);

    // Untyped steps and other answers.
    host.QueueAnswer(IDYES);
    EXPECT_EQ(DoModal(other), IDYES);

    ASSERT_EQ(host.ShownDialogs().size(), 5u);
    EXPECT_EQ(host.ShownDialogs()[0].refusals, 1);
    EXPECT_EQ(host.ShownDialogs()[1].answer, IDCANCEL);
    EXPECT_EQ(host.ShownNames(),
              (std::vector<std::string>{"name", "name", "name", "other", "other"}));
    EXPECT_EQ(host.PendingSteps(), 0u);

    host.Clear();
    EXPECT_TRUE(host.ShownDialogs().empty());
    EXPECT_EQ(host.ScriptErrors(), 0u);
}

TEST(ScriptedDialogs, WithoutAHostEveryDialogIsCancelled) {
    NameDialog dialog;
    EXPECT_EQ(DoModal(dialog), IDCANCEL);
    EXPECT_EQ(dialog.calls, (std::vector<std::string>{"init", "cancel"}));

    // A dialog opened from within another one runs on the same host and is recorded after it.
    ScriptedDialogHost host;
    {
        const ScopedDialogHost installed(host);
        host.QueueOk<NameDialog>([](NameDialog& d) {
            OtherDialog nested;
            DoModal(nested);
            d.name = "Pumps";
        });
        host.QueueCancel();
        EXPECT_EQ(DoModal(dialog), IDOK);
    }
    EXPECT_EQ(host.ShownNames(), (std::vector<std::string>{"name", "other"}));
    EXPECT_EQ(host.ShownDialogs()[1].answer, IDCANCEL);
    // The scope's end reinstated the cancelling host.
    host.QueueOk();
    EXPECT_EQ(DoModal(dialog), IDCANCEL);
    EXPECT_EQ(host.PendingSteps(), 1u);
}
