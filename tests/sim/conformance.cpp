#include "conformance.h"

#include "com/data_object.h"
#include "com/malloc.h"

namespace conformance {

void Conformance::SetUp() {
    startTaskBlocks_ = CoTaskMemLiveBlocks();
    startGlobalBlocks_ = GlobalLiveBlocks();
    harness_ = GetParam().make();
    ASSERT_TRUE(harness_);
    server_ = NewServer();
    ASSERT_TRUE(server_) << "the server object has no IOPCServer";
}

void Conformance::TearDown() {
    server_.Reset();
    if (harness_) {
        if (const std::optional<int> live = harness_->LiveServerCount()) {
            EXPECT_EQ(*live, 0) << "server objects outlive every client reference";
        }
        harness_.reset();
    }
    EXPECT_EQ(CoTaskMemLiveBlocks(), startTaskBlocks_)
        << "task-allocator blocks were handed out and never freed";
    EXPECT_EQ(GlobalLiveBlocks(), startGlobalBlocks_)
        << "global memory blocks were handed out and never freed";
}

ComPtr<IOPCServer> Conformance::NewServer() {
    ComPtr<IUnknown> unknown = harness_->CreateServer();
    return Query<IOPCServer>(unknown);
}

AddedGroup Conformance::MustAddGroup(const GroupParams& params) {
    AddedGroup group = AddGroup(*server_, params);
    EXPECT_TRUE(SUCCEEDED(group.hr)) << "AddGroup \"" << params.name << "\" answered " << group.hr;
    return group;
}

std::string HarnessName(const ::testing::TestParamInfo<HarnessKind>& info) {
    return info.param.name;
}

}  // namespace conformance
