#pragma once
// UI services for a process without windows: a message box becomes a line on standard error
// with the answer given, and trace lines go to standard output.

#include <atomic>
#include <cstdio>
#include <string_view>

#include "framework/ui_services.h"

class ConsoleUiServices final : public IUiServices {
  public:
    constexpr ConsoleUiServices() = default;
    // Writes traces to out and message boxes to err instead of stdout and stderr.
    constexpr ConsoleUiServices(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

    // The answer to questions. By default nobody is there to agree, so a question gets the
    // answer that changes nothing (No, or Cancel where the box has one); an answer the box
    // does not offer falls back to that too. 0 restores the default.
    void SetQuestionAnswer(int answer) { questionAnswer_.store(answer); }

    int MessageBox(std::string_view text, UINT type) override;
    void Trace(std::string_view line) override;

  private:
    std::FILE* Out() const { return out_ != nullptr ? out_ : stdout; }
    std::FILE* Err() const { return err_ != nullptr ? err_ : stderr; }

    std::FILE* out_ = nullptr;
    std::FILE* err_ = nullptr;
    std::atomic<int> questionAnswer_{0};
};
