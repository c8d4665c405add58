#include "framework/scripted_dialog.h"

int ScriptedDialogHost::DoModal(IDialogModel& model) {
    // Recorded in the order the dialogs open, so a dialog opened from within another one
    // comes after it.
    const std::size_t index = shown_.size();
    shown_.push_back(Shown{std::string(model.GetDialogName()), IDCANCEL, 0});
    model.OnInitDialog();
    int answer = IDCANCEL;
    while (!steps_.empty()) {
        Step step = std::move(steps_.front());
        steps_.pop_front();
        if (step.fill) {
            try {
                step.fill(model);
            } catch (const WrongModel&) {
                ++scriptErrors_;
                break;
            }
        }
        if (step.answer == IDOK) {
            if (model.OnOK()) {
                answer = IDOK;
                break;
            }
            ++shown_[index].refusals;
            continue;
        }
        answer = step.answer;
        break;
    }
    if (answer == IDCANCEL) {
        model.OnCancel();
    }
    shown_[index].answer = answer;
    return answer;
}

void ScriptedDialogHost::QueueAnswer(int answer, Fill fill) {
    steps_.push_back(Step{answer, std::move(fill)});
}

std::vector<std::string> ScriptedDialogHost::ShownNames() const {
    std::vector<std::string> names;
    names.reserve(shown_.size());
    for (const Shown& shown : shown_) {
        names.push_back(shown.name);
    }
    return names;
}

void ScriptedDialogHost::Clear() {
    steps_.clear();
    shown_.clear();
    scriptErrors_ = 0;
}
