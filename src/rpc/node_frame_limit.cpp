#include "rpc/node_frame_limit.h"

#include <kj/debug.h>

#include <algorithm>

namespace tgv::rpc {

bool FrameGuard::Feed(const std::byte* data, std::size_t size) {
    std::size_t i = 0;
    while (i < size) {
        if (stage_ == Stage::Body) {
            const std::uint64_t take = std::min<std::uint64_t>(bodyBytesLeft_, size - i);
            bodyBytesLeft_ -= take;
            i += static_cast<std::size_t>(take);
            if (bodyBytesLeft_ == 0) {
                stage_ = Stage::Count;
            }
            continue;
        }
        word_ |= static_cast<std::uint32_t>(std::to_integer<unsigned>(data[i])) << (8 * wordBytes_);
        ++wordBytes_;
        ++i;
        if (wordBytes_ < 4) {
            continue;
        }
        const std::uint32_t value = word_;
        word_ = 0;
        wordBytes_ = 0;
        if (stage_ == Stage::Count) {
            // The first word holds the segment count less one.
            if (value >= limits_.maxSegments) {
                return false;
            }
            segments_ = value + 1;
            words_ = 0;
            // The sizes, then four bytes of padding when the table would not end on an
            // eight-byte boundary.
            tableBytesLeft_ =
                4 * static_cast<std::size_t>(segments_) + (segments_ % 2 == 0 ? 4 : 0);
            stage_ = Stage::Sizes;
            continue;
        }
        tableBytesLeft_ -= 4;
        const bool padding = segments_ % 2 == 0 && tableBytesLeft_ == 0;
        if (!padding) {
            words_ += value;
            if (words_ > limits_.maxWords) {
                return false;
            }
        }
        if (tableBytesLeft_ == 0) {
            bodyBytesLeft_ = words_ * 8;
            stage_ = bodyBytesLeft_ == 0 ? Stage::Count : Stage::Body;
        }
    }
    return true;
}

namespace {

class LimitedStream final : public kj::AsyncIoStream {
  public:
    LimitedStream(kj::Own<kj::AsyncIoStream> inner, FrameLimits limits)
        : inner_(kj::mv(inner)), guard_(limits) {}

    kj::Promise<size_t> tryRead(void* buffer, size_t minBytes, size_t maxBytes) override {
        if (broken_) {
            return KJ_EXCEPTION(DISCONNECTED, "the peer sent an oversized message");
        }
        return inner_->tryRead(buffer, minBytes, maxBytes).then([this, buffer](size_t n) {
            if (!guard_.Feed(static_cast<const std::byte*>(buffer), n)) {
                broken_ = true;
                inner_->shutdownWrite();
                kj::throwFatalException(
                    KJ_EXCEPTION(DISCONNECTED, "the peer sent an oversized message"));
            }
            return n;
        });
    }
    kj::Promise<void> write(const void* buffer, size_t size) override {
        return inner_->write(buffer, size);
    }
    kj::Promise<void> write(kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces) override {
        return inner_->write(pieces);
    }
    kj::Promise<void> whenWriteDisconnected() override { return inner_->whenWriteDisconnected(); }
    void shutdownWrite() override { inner_->shutdownWrite(); }
    void abortRead() override { inner_->abortRead(); }
    void getsockopt(int level, int option, void* value, kj::uint* length) override {
        inner_->getsockopt(level, option, value, length);
    }
    void setsockopt(int level, int option, const void* value, kj::uint length) override {
        inner_->setsockopt(level, option, value, length);
    }
    void getsockname(struct sockaddr* addr, kj::uint* length) override {
        inner_->getsockname(addr, length);
    }
    void getpeername(struct sockaddr* addr, kj::uint* length) override {
        inner_->getpeername(addr, length);
    }
    kj::Maybe<int> getFd() const override { return inner_->getFd(); }

  private:
    kj::Own<kj::AsyncIoStream> inner_;
    FrameGuard guard_;
    bool broken_ = false;
};

}  // namespace

kj::Own<kj::AsyncIoStream> LimitFrames(kj::Own<kj::AsyncIoStream> inner, FrameLimits limits) {
    return kj::heap<LimitedStream>(kj::mv(inner), limits);
}

}  // namespace tgv::rpc
