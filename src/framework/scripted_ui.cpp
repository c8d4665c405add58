#include "framework/scripted_ui.h"

#include <algorithm>

int ScriptedUiServices::MessageBox(std::string_view text, UINT type) {
    const std::lock_guard lock(mutex_);
    int answer = 0;
    if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
        if (!IsAnswerOf(type, answer)) {
            ++scriptErrors_;
            answer = 0;
        }
    } else if (defaultAnswer_ != 0 && IsAnswerOf(type, defaultAnswer_)) {
        answer = defaultAnswer_;
    }
    if (answer == 0) {
        answer = NeutralAnswer(type);
    }
    events_.push_back({Event::Kind::Message, std::string(text), type, answer});
    return answer;
}

void ScriptedUiServices::Trace(std::string_view line) {
    const std::lock_guard lock(mutex_);
    events_.push_back({Event::Kind::Trace, std::string(line), 0, 0});
}

void ScriptedUiServices::QueueAnswer(int answer) {
    const std::lock_guard lock(mutex_);
    answers_.push_back(answer);
}

void ScriptedUiServices::QueueAnswers(std::initializer_list<int> answers) {
    const std::lock_guard lock(mutex_);
    answers_.insert(answers_.end(), answers.begin(), answers.end());
}

void ScriptedUiServices::SetDefaultAnswer(int answer) {
    const std::lock_guard lock(mutex_);
    defaultAnswer_ = answer;
}

std::size_t ScriptedUiServices::PendingAnswers() const {
    const std::lock_guard lock(mutex_);
    return answers_.size();
}

std::size_t ScriptedUiServices::ScriptErrors() const {
    const std::lock_guard lock(mutex_);
    return scriptErrors_;
}

std::vector<ScriptedUiServices::Message> ScriptedUiServices::Messages() const {
    const std::lock_guard lock(mutex_);
    std::vector<Message> shown;
    for (const Event& e : events_) {
        if (e.kind == Event::Kind::Message) {
            shown.push_back({e.text, e.type, e.answer});
        }
    }
    return shown;
}

std::vector<std::string> ScriptedUiServices::MessageTexts() const {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const Event& e : events_) {
        if (e.kind == Event::Kind::Message) {
            texts.push_back(e.text);
        }
    }
    return texts;
}

std::size_t ScriptedUiServices::MessageCount() const {
    const std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(events_.begin(), events_.end(),
                      [](const Event& e) { return e.kind == Event::Kind::Message; }));
}

std::optional<ScriptedUiServices::Message> ScriptedUiServices::LastMessage() const {
    const std::lock_guard lock(mutex_);
    const auto last = std::find_if(events_.rbegin(), events_.rend(),
                                   [](const Event& e) { return e.kind == Event::Kind::Message; });
    if (last == events_.rend()) {
        return std::nullopt;
    }
    return Message{last->text, last->type, last->answer};
}

std::size_t ScriptedUiServices::CountShown(std::string_view text) const {
    const std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(
        events_.begin(), events_.end(),
        [&](const Event& e) { return e.kind == Event::Kind::Message && e.text == text; }));
}

std::vector<std::string> ScriptedUiServices::Traces() const {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    for (const Event& e : events_) {
        if (e.kind == Event::Kind::Trace) {
            lines.push_back(e.text);
        }
    }
    return lines;
}

std::string ScriptedUiServices::TraceOutput() const {
    const std::lock_guard lock(mutex_);
    std::string out;
    for (const Event& e : events_) {
        if (e.kind == Event::Kind::Trace) {
            out += e.text;
        }
    }
    return out;
}

std::vector<ScriptedUiServices::Event> ScriptedUiServices::Events() const {
    const std::lock_guard lock(mutex_);
    return events_;
}

void ScriptedUiServices::Clear() {
    const std::lock_guard lock(mutex_);
    answers_.clear();
    defaultAnswer_ = 0;
    scriptErrors_ = 0;
    events_.clear();
}
