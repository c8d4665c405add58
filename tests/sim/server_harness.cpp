#include "server_harness.h"

#include <ostream>

namespace conformance {

void PrintTo(const HarnessKind& kind, std::ostream* out) {
    *out << kind.name;
}

std::vector<HarnessKind> AllHarnesses() {
    return {
        HarnessKind{"InProcess", MakeInProcessHarness},
    };
}

}  // namespace conformance
