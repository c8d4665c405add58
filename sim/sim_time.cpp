#include "sim/sim_time.h"

FILETIME SimFileTime(std::uint64_t milliseconds) {
    const std::uint64_t ticks = kSimEpochFileTime + milliseconds * 10000ULL;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFULL);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

DWORD ReviseUpdateRate(DWORD requested) {
    if (requested <= kFastestUpdateRate) {
        return kFastestUpdateRate;
    }
    if (requested >= kSlowestUpdateRate) {
        return kSlowestUpdateRate;
    }
    return (requested + kUpdateRateStep - 1) / kUpdateRateStep * kUpdateRateStep;
}
