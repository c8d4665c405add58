#include "framework/message_box.h"

bool IsAnswerOf(UINT type, int answer) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return answer == IDOK || answer == IDCANCEL;
        case MB_YESNOCANCEL:
            return answer == IDYES || answer == IDNO || answer == IDCANCEL;
        case MB_YESNO:
            return answer == IDYES || answer == IDNO;
        default:
            return answer == IDOK;
    }
}

int NeutralAnswer(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
        case MB_YESNOCANCEL:
            return IDCANCEL;
        case MB_YESNO:
            return IDNO;
        default:
            return IDOK;
    }
}

const char* ButtonsText(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return "OK/Cancel";
        case MB_YESNOCANCEL:
            return "Yes/No/Cancel";
        case MB_YESNO:
            return "Yes/No";
        default:
            return "OK";
    }
}

const char* AnswerText(int answer) {
    switch (answer) {
        case IDOK:
            return "OK";
        case IDCANCEL:
            return "Cancel";
        case IDYES:
            return "Yes";
        case IDNO:
            return "No";
        default:
            return "?";
    }
}
