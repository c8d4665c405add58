#include "framework/console_ui.h"

#include <string>

int ConsoleUiServices::MessageBox(std::string_view text, UINT type) {
    const int wanted = questionAnswer_.load();
    const bool question = NeutralAnswer(type) != IDOK;
    const int answer =
        question && wanted != 0 && IsAnswerOf(type, wanted) ? wanted : NeutralAnswer(type);

    // One line per box: the text without its trailing line ends, the buttons and the answer.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    std::string line(text);
    line += " [";
    line += ButtonsText(type);
    line += "] -> ";
    line += AnswerText(answer);
    line += '\n';
    std::FILE* const err = Err();
    std::fwrite(line.data(), 1, line.size(), err);
    std::fflush(err);
    return answer;
}

void ConsoleUiServices::Trace(std::string_view line) {
    std::FILE* const out = Out();
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
}
