#pragma once
// A stream that refuses oversized messages before anyone allocates room for them: it follows
// the message framing of what is read (segment count, segment sizes, body) and fails the read
// that brings a segment table announcing more segments or more words than allowed. A peer
// cannot make the reader reserve memory it merely claims to need.

#include <kj/async-io.h>

#include <cstddef>
#include <cstdint>

namespace tgv::rpc {

struct FrameLimits {
    std::uint32_t maxSegments = 64;
    std::uint64_t maxWords = 1024 * 1024;  // 8 MiB
};

// Follows the framing byte by byte; Feed returns false from the first byte that breaks a limit.
class FrameGuard {
  public:
    explicit FrameGuard(FrameLimits limits) : limits_(limits) {}
    bool Feed(const std::byte* data, std::size_t size);

  private:
    enum class Stage { Count, Sizes, Body };
    FrameLimits limits_;
    Stage stage_ = Stage::Count;
    std::uint32_t word_ = 0;  // the little-endian word being collected
    std::size_t wordBytes_ = 0;
    std::uint32_t segments_ = 0;
    std::size_t tableBytesLeft_ = 0;  // sizes and padding still to come
    std::uint64_t words_ = 0;
    std::uint64_t bodyBytesLeft_ = 0;
};

// Wraps inner; reads that break the limits fail with a DISCONNECTED exception.
kj::Own<kj::AsyncIoStream> LimitFrames(kj::Own<kj::AsyncIoStream> inner, FrameLimits limits);

}  // namespace tgv::rpc
