#pragma once
// Registered clipboard formats: a process-wide table that gives every format name one number
// from 0xC000 up. Two parties that register the same name get the same number, which is how a
// data object and its advise sinks agree on the formats of their streams.

#include "com/types.h"

inline constexpr UINT CF_FIRST_REGISTERED = 0xC000;
inline constexpr UINT CF_LAST_REGISTERED = 0xFFFF;
inline constexpr int CF_MAX_NAME_LENGTH = 255;

// The number of the named format, registering it on first use. Names are compared without
// regard to (ASCII) case; the first spelling registered is kept. 0 for a null, empty or too
// long (over 255 bytes) name, or when the table is full. Thread-safe.
UINT RegisterClipboardFormatA(LPCSTR lpszFormat);
// Copies the registered name of format (at most cchMaxCount - 1 bytes and a terminator) and
// returns the bytes copied; 0 when format is not a registered number or the buffer is unusable.
int GetClipboardFormatNameA(UINT format, LPSTR lpszFormatName, int cchMaxCount);
