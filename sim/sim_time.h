#pragma once
// Simulated time: milliseconds since the simulator started, and the update rates groups run at.
// A hand-driven clock starts at 2026-01-01 00:00:00 UTC, so that its timestamps repeat from run
// to run; a process whose clock runs in real time starts it at the moment it began serving.

#include <cstdint>

#include "com/types.h"

// 2026-01-01 00:00:00 UTC in 100-nanosecond intervals since 1601-01-01.
inline constexpr std::uint64_t kSimEpochFileTime = 134116992000000000ULL;

// The simulated time as a FILETIME: the milliseconds added to the start time.
FILETIME SimFileTime(std::uint64_t milliseconds);

// The start time every simulator of this process stamps from, in 100-nanosecond intervals since
// 1601-01-01; kSimEpochFileTime until set. Set it before any server object exists.
void SetSimStartFileTime(std::uint64_t fileTime);
std::uint64_t SimStartFileTime();

// The wall clock now, in 100-nanosecond intervals since 1601-01-01.
std::uint64_t WallClockFileTime();

// Update rates the server runs groups at: multiples of 10 ms from 100 ms to one day. A request
// is revised up to the next supported rate (0, "as fast as possible", gives the fastest),
// anything over a day down to a day.
inline constexpr DWORD kFastestUpdateRate = 100;
inline constexpr DWORD kUpdateRateStep = 10;
inline constexpr DWORD kSlowestUpdateRate = 24 * 60 * 60 * 1000;
// A server told to run faster (for load tests) revises down to its own fastest rate, a
// multiple of the step from kUpdateRateStep up.
DWORD ReviseUpdateRate(DWORD requested, DWORD fastest = kFastestUpdateRate);
