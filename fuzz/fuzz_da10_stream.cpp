// Feeds arbitrary blocks to the decoder of the OPC DA 1.0 data streams. The first byte picks
// the format, the rest is the block. The decoder must never read outside the block, never
// crash, leak or allocate far beyond the block's size, and hand back consistent arrays.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz/allocation_meter.h"
#include "opc/da10_stream.h"

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "inconsistent decoding: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    allocation_meter::Install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const Da10Format format = static_cast<Da10Format>(data[0] % 3);
    // The block in a buffer of its own exact size, so any read past it is caught.
    const std::vector<std::uint8_t> block(data + 1, data + size);
    allocation_meter::Start();
    {
        const Da10Stream stream = DecodeDa10Stream(block.data(), block.size(), format);
        const std::size_t n = stream.clientHandles.size();
        if (format == Da10Format::writeComplete) {
            Check(stream.errors.size() == n && stream.values.empty(), "write-complete arrays");
        } else {
            Check(stream.values.size() == n && stream.qualities.size() == n, "data arrays");
            Check(stream.timestamps.size() == (format == Da10Format::dataWithTime ? n : 0),
                  "timestamps");
            for (const VARIANT& value : stream.values) {
                Check(value.vt == VT_BSTR || (value.vt & (VT_ARRAY | VT_BYREF)) == 0,
                      "a pointer type came out");
            }
        }
        Check(stream.accepted || n == 0, "items of an ignored block");
    }
    // Each header yields one VARIANT and a few words; strings are copies of the block's bytes.
    allocation_meter::StopAndCheck(size, 16 * size + (64u << 10));
    return 0;
}
