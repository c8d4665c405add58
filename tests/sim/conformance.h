#pragma once
// The fixture every conformance test runs in, once per harness. It gives the test a server
// object and, when the test ends, checks the memory rule: every task-allocator block and every
// global memory block the server handed out has been freed, and no server object is left
// alive by a reference the server forgot to release.

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "opc_client.h"
#include "server_harness.h"

namespace conformance {

using std::chrono::milliseconds;

class Conformance : public ::testing::TestWithParam<HarnessKind> {
  protected:
    void SetUp() override;
    void TearDown() override;

    ServerHarness& Harness() { return *harness_; }
    // The server object made for this test.
    IOPCServer& Server() { return *server_; }
    IUnknown* ServerUnknown() { return server_.Get(); }
    // Another server object of the same server.
    ComPtr<IOPCServer> NewServer();

    void Advance(milliseconds delta) { harness_->Advance(delta); }
    bool Exact() const { return harness_->ExactClock(); }

    // Adds a group and expects it to succeed.
    AddedGroup MustAddGroup(const GroupParams& params);

  private:
    std::size_t startTaskBlocks_ = 0;
    std::size_t startGlobalBlocks_ = 0;
    std::unique_ptr<ServerHarness> harness_;
    ComPtr<IOPCServer> server_;
};

std::string HarnessName(const ::testing::TestParamInfo<HarnessKind>& info);

}  // namespace conformance

// Declares a test suite of conformance tests and runs it against every harness.
#define CONFORMANCE_SUITE(Suite)                                                                 \
    class Suite : public ::conformance::Conformance {};                                          \
    INSTANTIATE_TEST_SUITE_P(Harness, Suite, ::testing::ValuesIn(::conformance::AllHarnesses()), \
                             ::conformance::HarnessName)
