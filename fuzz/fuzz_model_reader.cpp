// Feeds arbitrary bytes to the reader of column sets and server records: the reader must fail
// cleanly with an archive error, never crash, leak or allocate far beyond the input's size.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "fuzz/allocation_meter.h"
#include "model/archive.h"
#include "model/columns.h"
#include "model/model_classes.h"
#include "model/server_record.h"

namespace {

const ClassRegistry& Classes() {
    static const ClassRegistry classes = ModelClasses();
    return classes;
}

void ReadDocumentBody(std::span<const std::uint8_t> bytes) {
    CArchive ar(bytes, Classes());
    clColumns columns;
    columns.Serialize(ar);
    std::vector<std::unique_ptr<clBaseOPCServer>> servers;
    const std::uint32_t count = ar.ReadCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        servers.push_back(ar.ReadNew<clBaseOPCServer>());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    allocation_meter::Install();
    Classes();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    allocation_meter::Start();
    try {
        ReadDocumentBody(std::span<const std::uint8_t>(data, size));
    } catch (const CArchiveException&) {
        // A damaged or cut input: the expected way to fail.
    }
    // Every record costs a few hundred bytes of memory for a few dozen bytes of input; a reader
    // that believed a claimed length or count would go far beyond this.
    allocation_meter::StopAndCheck(size, 64 * size + (64u << 10));
    return 0;
}
