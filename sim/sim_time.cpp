#include "sim/sim_time.h"

FILETIME SimFileTime(std::uint64_t milliseconds) {
    const std::uint64_t ticks = kSimEpochFileTime + milliseconds * 10000ULL;
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
