#pragma once
// OLE Automation dates and FILETIME, converted to and from calendar fields.

#include "com/hresult.h"
#include "com/types.h"

// Calendar fields of an OLE date. The valid range is 100-01-01 to 9999-12-31; outside it the
// result is E_INVALIDARG. For dates before 1899-12-30 the integer part counts days backwards
// while the fraction still counts forward from midnight (-1.25 is 1899-12-29 06:00).
// Times are rounded to the nearest second, so wMilliseconds is always 0.
HRESULT VarUdateFromDate(DATE dateIn, ULONG dwFlags, UDATE* pudateOut);
// The inverse: wDayOfWeek, wDayOfYear and wMilliseconds are ignored, years 0 to 29 mean
// 2000 to 2029 and 30 to 99 mean 1930 to 1999, and a field beyond its range carries into the
// next (month 13 is January of the next year, day 0 the last day of the month before).
HRESULT VarDateFromUdate(const UDATE* pudateIn, ULONG dwFlags, DATE* pdateOut);

// Calendar fields of a FILETIME, taken as UTC with no time zone applied.
// FALSE for a FILETIME above 0x7FFFFFFFFFFFFFFF.
BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, SYSTEMTIME* lpSystemTime);
// FALSE for a field out of range (years 1601 to 30827); wDayOfWeek is ignored.
BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, FILETIME* lpFileTime);
