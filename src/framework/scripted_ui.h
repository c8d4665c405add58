#pragma once
// A UI services double for tests of every layer: it records every message box and trace line
// in order and answers message boxes from a script.
//
//   ScriptedUiServices ui;
//   ScopedUiServices installed(ui);
//   ui.QueueAnswer(IDYES);            // the next box answers Yes
//   doc.OnDeleteServer();
//   EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"Delete OPC Server ?"}));
//
// Boxes take the queued answers in order, one each, whatever their style. A queued answer the
// box does not offer (Yes for an OK box) is a mistake in the script: the box gets its default
// answer instead and the mistake is counted in ScriptErrors(). With the queue empty, a box gets
// the set default where it offers it, else OK for a plain message and the answer that changes
// nothing for a question (No, or Cancel where it has one).
//
// Thread-safe: a worker thread may trace while the test thread inspects.

#include <cstddef>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/ui_services.h"

class ScriptedUiServices final : public IUiServices {
  public:
    struct Message {
        std::string text;
        UINT type = MB_OK;
        int answer = IDOK;
    };
    // One entry of the combined record: a message box or a trace line.
    struct Event {
        enum class Kind { Message, Trace };
        Kind kind = Kind::Message;
        std::string text;
        UINT type = 0;   // message boxes only
        int answer = 0;  // message boxes only
    };

    int MessageBox(std::string_view text, UINT type) override;
    void Trace(std::string_view line) override;

    // Script.
    void QueueAnswer(int answer);
    void QueueAnswers(std::initializer_list<int> answers);
    // The answer of boxes that find the queue empty, where they offer it; 0 removes it.
    void SetDefaultAnswer(int answer);
    std::size_t PendingAnswers() const;
    // Queued answers that did not fit the box they were given to.
    std::size_t ScriptErrors() const;

    // What was shown, in order.
    std::vector<Message> Messages() const;
    std::vector<std::string> MessageTexts() const;
    std::size_t MessageCount() const;
    std::optional<Message> LastMessage() const;
    // How many boxes showed exactly this text.
    std::size_t CountShown(std::string_view text) const;
    bool WasShown(std::string_view text) const { return CountShown(text) > 0; }

    std::vector<std::string> Traces() const;
    // Every trace line joined, as standard output would have shown them.
    std::string TraceOutput() const;

    // Message boxes and trace lines in one sequence.
    std::vector<Event> Events() const;

    // Forgets everything recorded and scripted, and the default answer.
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::deque<int> answers_;
    int defaultAnswer_ = 0;
    std::size_t scriptErrors_ = 0;
    std::vector<Event> events_;
};
