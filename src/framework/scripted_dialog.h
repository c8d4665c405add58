#pragma once
// A dialog host double for tests: it answers dialogs from a script and records what was shown.
//
//   ScriptedDialogHost dialogs;
//   ScopedDialogHost installed(dialogs);
//   dialogs.QueueOk<CGroupDlgModel>([](CGroupDlgModel& m) { m.name = "Pumps"; });
//   doc.OnNewGroup();
//   EXPECT_EQ(dialogs.ShownNames(), (std::vector<std::string>{"group"}));
//
// Each dialog runs like one the operator answers: OnInitDialog, then the queued steps in order.
// A step may first edit the model (filling in the fields), then answers. An OK answer calls the
// model's OnOK: accepted, the dialog ends with IDOK; refused, the dialog stays open and takes
// the next step (so a test can enter a bad value, then correct it). A Cancel answer calls
// OnCancel and ends with IDCANCEL; any other answer ends the dialog with it. With no step left
// the dialog is cancelled. A typed step given a model of another class is a mistake in the
// script: it is counted in ScriptErrors() and the dialog is cancelled.

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "framework/dialog.h"

class ScriptedDialogHost final : public IDialogHost {
  public:
    using Fill = std::function<void(IDialogModel&)>;

    struct Shown {
        std::string name;  // the model's dialog name
        int answer = 0;    // how the dialog ended
        int refusals = 0;  // OK presses the model refused
    };

    int DoModal(IDialogModel& model) override;

    // Script.
    void QueueAnswer(int answer, Fill fill = {});
    void QueueOk(Fill fill = {}) { QueueAnswer(IDOK, std::move(fill)); }
    void QueueCancel(Fill fill = {}) { QueueAnswer(IDCANCEL, std::move(fill)); }
    // An OK step whose fill needs the model's own class.
    template <class Model>
    void QueueOk(std::function<void(Model&)> fill) {
        QueueAnswer(IDOK, Typed<Model>(std::move(fill)));
    }
    template <class Model>
    void QueueCancel(std::function<void(Model&)> fill) {
        QueueAnswer(IDCANCEL, Typed<Model>(std::move(fill)));
    }
    std::size_t PendingSteps() const { return steps_.size(); }
    std::size_t ScriptErrors() const { return scriptErrors_; }

    // What was shown, in order.
    const std::vector<Shown>& ShownDialogs() const { return shown_; }
    std::vector<std::string> ShownNames() const;

    // Forgets everything recorded and scripted.
    void Clear();

  private:
    struct WrongModel {};  // thrown by a typed fill given another class of model

    template <class Model>
    static Fill Typed(std::function<void(Model&)> fill) {
        return [fill = std::move(fill)](IDialogModel& model) {
            auto* typed = dynamic_cast<Model*>(&model);
            if (typed == nullptr) {
                throw WrongModel{};
            }
            if (fill) {
                fill(*typed);
            }
        };
    }

    struct Step {
        int answer;
        Fill fill;
    };
    std::deque<Step> steps_;
    std::vector<Shown> shown_;
    std::size_t scriptErrors_ = 0;
};
