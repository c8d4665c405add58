#pragma once
// Message box styles and answers, with their Windows values.

#include "com/types.h"

// Buttons (the low four bits of the style).
inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_OKCANCEL = 0x1;
inline constexpr UINT MB_YESNOCANCEL = 0x3;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_TYPEMASK = 0xF;

// Icons.
inline constexpr UINT MB_ICONHAND = 0x10;
inline constexpr UINT MB_ICONERROR = MB_ICONHAND;
inline constexpr UINT MB_ICONSTOP = MB_ICONHAND;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONEXCLAMATION = 0x30;
inline constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
inline constexpr UINT MB_ICONASTERISK = 0x40;
inline constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
inline constexpr UINT MB_ICONMASK = 0xF0;

// Answers: the button the operator chose.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// True when a box of this style has a button giving this answer. Unknown button sets offer
// only OK.
bool IsAnswerOf(UINT type, int answer);

// The answer of a box that nobody is there to answer: OK for a plain message, and the answer
// that changes nothing for a question (No, or Cancel where the box has one).
int NeutralAnswer(UINT type);

// The words of the buttons ("OK", "Yes/No", ...) and of an answer ("Yes"), for text output.
const char* ButtonsText(UINT type);
const char* AnswerText(int answer);
