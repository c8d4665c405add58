// The pieces of the node transport that need no process: node names, the registry paths the
// agent answers, and the message framing guard.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "rpc/node_agent.h"
#include "rpc/node_client.h"
#include "rpc/node_frame_limit.h"

namespace {

using tgv::rpc::FrameGuard;
using tgv::rpc::FrameLimits;
using tgv::rpc::ParseNodeAddress;

TEST(NodeAddress, HostAloneTakesTheAgentPortAndAPortMustBeValid) {
    auto a = ParseNodeAddress("plant-7");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->host, "plant-7");
    EXPECT_EQ(a->port, 5135);
    a = ParseNodeAddress("10.0.0.2:6000");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->host, "10.0.0.2");
    EXPECT_EQ(a->port, 6000);
    a = ParseNodeAddress("[::1]:7000");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->host, "::1");
    EXPECT_EQ(a->port, 7000);
    a = ParseNodeAddress("fe80::1");  // a bare IPv6 address, at the agent's port
    ASSERT_TRUE(a);
    EXPECT_EQ(a->host, "fe80::1");
    EXPECT_EQ(a->port, 5135);
    for (const char* bad : {"", ":5135", "host:", "host:0", "host:65536", "host:12a", "[::1",
                            "[]:5", "[::1]x", "two words"}) {
        EXPECT_FALSE(ParseNodeAddress(bad)) << bad;
    }
}

TEST(NodeAgentPaths, OnlyClassesAndBelowAreServedWhateverTheCase) {
    EXPECT_TRUE(tgv::rpc::IsServedRegistryPath("SOFTWARE\\Classes"));
    EXPECT_TRUE(tgv::rpc::IsServedRegistryPath("software\\CLASSES\\CLSID\\{x}"));
    EXPECT_FALSE(tgv::rpc::IsServedRegistryPath(""));
    EXPECT_FALSE(tgv::rpc::IsServedRegistryPath("SOFTWARE"));
    EXPECT_FALSE(tgv::rpc::IsServedRegistryPath("SOFTWARE\\ClassesX"));
    EXPECT_FALSE(tgv::rpc::IsServedRegistryPath("SYSTEM\\Classes"));
    EXPECT_FALSE(tgv::rpc::IsServedRegistryPath("SOFTWARE\\\\Classes"));
    EXPECT_FALSE(tgv::rpc::IsServedRegistryPath("\\SOFTWARE\\Classes"));
}

// A framed message: the segment table, then words of zeros.
std::vector<std::byte> Frame(const std::vector<std::uint32_t>& segmentWords) {
    std::vector<std::uint32_t> table = {static_cast<std::uint32_t>(segmentWords.size() - 1)};
    table.insert(table.end(), segmentWords.begin(), segmentWords.end());
    if (table.size() % 2 != 0) {
        table.push_back(0);
    }
    std::vector<std::byte> bytes;
    for (const std::uint32_t word : table) {
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(static_cast<std::byte>((word >> (8 * i)) & 0xFF));
        }
    }
    std::uint64_t body = 0;
    for (const std::uint32_t w : segmentWords) {
        body += w;
    }
    bytes.resize(bytes.size() + body * 8, std::byte{0});
    return bytes;
}

TEST(FrameGuard, FollowsMessagesAcrossReadsOfAnySize) {
    // One and two segments (two needs the padding word), an empty one, then a large table.
    std::vector<std::byte> stream;
    for (const auto& frame : {Frame({3}), Frame({1, 2}), Frame({0}), Frame({1, 1, 1, 1, 1})}) {
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    for (const std::size_t chunk :
         {std::size_t{1}, std::size_t{3}, std::size_t{7}, stream.size()}) {
        FrameGuard guard(FrameLimits{8, 16});
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            const std::size_t n = std::min(chunk, stream.size() - at);
            ASSERT_TRUE(guard.Feed(stream.data() + at, n)) << "chunk " << chunk << " at " << at;
        }
        // The guard is at a message boundary again: a too-large next message is caught.
        const auto big = Frame({17});
        EXPECT_FALSE(guard.Feed(big.data(), 8)) << "chunk " << chunk;
    }
}

TEST(FrameGuard, RefusesTooManySegmentsOrWordsBeforeTheBody) {
    // Padding is not counted as a size: two segments of 8 words fit a limit of 16.
    const auto fits = Frame({8, 8});
    EXPECT_TRUE(FrameGuard(FrameLimits{8, 16}).Feed(fits.data(), fits.size()));
    const auto words = Frame({8, 9});
    EXPECT_FALSE(FrameGuard(FrameLimits{8, 16}).Feed(words.data(), 12));
    const auto segments = Frame({0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_FALSE(FrameGuard(FrameLimits{8, 16}).Feed(segments.data(), 4));
    // Sizes that would overflow a 32-bit sum are still refused.
    const std::vector<std::uint32_t> huge = {1, 0xFFFFFFFF, 0xFFFFFFFF};
    std::vector<std::byte> table;
    for (const std::uint32_t word : huge) {
        for (int i = 0; i < 4; ++i) {
            table.push_back(static_cast<std::byte>((word >> (8 * i)) & 0xFF));
        }
    }
    EXPECT_FALSE(FrameGuard(FrameLimits{8, 1u << 30}).Feed(table.data(), table.size()));
}

}  // namespace
