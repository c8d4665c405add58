// Feeds arbitrary bytes to the configuration document's reader, the one tgvtool uses: it must
// accept or refuse them with the application's own message, never crash or hang. What it
// accepts must save, the same bytes every time, to a file that reads back whole.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "document/offline_doc.h"
#include "fuzz/allocation_meter.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    allocation_meter::Install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    COfflineDoc doc;
    allocation_meter::Start();
    const std::string message = doc.OpenBytes(std::span<const std::uint8_t>(data, size), "input");
    // Records cost a few hundred bytes of memory for a few dozen bytes of input; the document's
    // fixed parts (column sets, class tables) need a little more.
    allocation_meter::StopAndCheck(size, 64 * size + (256u << 10));
    if (!message.empty()) {
        if (message != "Unexpected file format." && message != "Failed to open document.") {
            Fail("unexpected refusal", message);
        }
        if (!doc.serverList.ServerRecords().empty() || !doc.serverList.Servers().empty()) {
            Fail("refused input left records behind", message);
        }
        return 0;
    }

    // An accepted file saves in the canonical form, which reads back and saves to as many
    // bytes again. (Not always to the same bytes: a calendar date out of range, which no save
    // writes, is brought into range on reading, and that may take more than one round.)
    const std::vector<std::uint8_t> saved = doc.SaveToBytes();
    if (doc.SaveToBytes() != saved) {
        Fail("two saves of one document differ", std::to_string(saved.size()));
    }
    COfflineDoc again;
    if (const std::string reread = again.OpenBytes(saved, "saved"); !reread.empty()) {
        Fail("a saved file does not read back", reread);
    }
    if (const std::size_t resaved = again.SaveToBytes().size(); resaved != saved.size()) {
        Fail("a saved file does not save to as many bytes",
             std::to_string(saved.size()) + " then " + std::to_string(resaved));
    }
    return 0;
}
