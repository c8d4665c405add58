#include "sim/sim_time.h"

#include <algorithm>
#include <atomic>
#include <chrono>

namespace {

std::atomic<std::uint64_t> startFileTime{kSimEpochFileTime};

// 1970-01-01 in 100-nanosecond intervals since 1601-01-01.
constexpr std::uint64_t kUnixEpochFileTime = 116444736000000000ULL;

}  // namespace

void SetSimStartFileTime(std::uint64_t fileTime) {
    startFileTime.store(fileTime, std::memory_order_relaxed);
}

std::uint64_t SimStartFileTime() {
    return startFileTime.load(std::memory_order_relaxed);
}

std::uint64_t WallClockFileTime() {
    const auto since1970 = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    const std::int64_t micros = std::max<std::int64_t>(since1970.count(), 0);
    return kUnixEpochFileTime + static_cast<std::uint64_t>(micros) * 10ULL;
}

FILETIME SimFileTime(std::uint64_t milliseconds) {
    const std::uint64_t ticks = SimStartFileTime() + milliseconds * 10000ULL;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFULL);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

namespace {

// Up to the next multiple of the step, within [step, slowest].
DWORD ReviseStep(DWORD rate) {
    if (rate <= kUpdateRateStep) {
        return kUpdateRateStep;
    }
    if (rate >= kSlowestUpdateRate) {
        return kSlowestUpdateRate;
    }
    return (rate + kUpdateRateStep - 1) / kUpdateRateStep * kUpdateRateStep;
}

}  // namespace

DWORD ReviseUpdateRate(DWORD requested, DWORD fastest) {
    fastest = ReviseStep(fastest);
    if (requested <= fastest) {
        return fastest;
    }
    if (requested >= kSlowestUpdateRate) {
        return kSlowestUpdateRate;
    }
    return (requested + kUpdateRateStep - 1) / kUpdateRateStep * kUpdateRateStep;
}
