#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "com/apartment.h"

namespace {

using namespace std::chrono_literals;

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

TEST(Apartment, RunsInArrivalOrderOnTheDrainingThread) {
    Apartment apartment;
    std::vector<int> order;
    const std::thread::id self = std::this_thread::get_id();
    for (int i = 0; i < 5; ++i) {
        apartment.Post([&order, i, self] {
            EXPECT_EQ(std::this_thread::get_id(), self);
            order.push_back(i);
        });
    }
    EXPECT_EQ(apartment.Pending(), 5u);
    EXPECT_EQ(apartment.Drain(), 5u);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(apartment.Drain(), 0u);
}

TEST(Apartment, EventFdIsReadableExactlyWhileSomethingIsQueued) {
    Apartment apartment;
    const int fd = apartment.EventFd();
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(Readable(fd));
    apartment.Post([] {});
    EXPECT_TRUE(Readable(fd));
    apartment.Post([] {});
    EXPECT_TRUE(Readable(fd));
    apartment.Drain();
    EXPECT_FALSE(Readable(fd));
    apartment.Post([] {});
    EXPECT_TRUE(Readable(fd));

    // While a call runs with nothing behind it the descriptor is quiet; a post from inside
    // wakes it again.
    Apartment second;
    second.Post([&] {
        EXPECT_FALSE(Readable(second.EventFd()));
        second.Post([] {});
        EXPECT_TRUE(Readable(second.EventFd()));
    });
    EXPECT_EQ(second.Drain(), 2u);
    EXPECT_FALSE(Readable(second.EventFd()));
}

TEST(Apartment, CallsPostedWhileDrainingAndNestedDrains) {
    Apartment apartment;
    std::vector<int> order;
    apartment.Post([&] {
        order.push_back(1);
        apartment.Post([&] { order.push_back(4); });
    });
    apartment.Post([&] {
        order.push_back(2);
        // A nested loop (a modal dialog) drains the rest in order.
        EXPECT_EQ(apartment.Drain(), 2u);
        order.push_back(5);
    });
    apartment.Post([&] { order.push_back(3); });
    EXPECT_EQ(apartment.Drain(), 2u);  // the nested drain ran the other two
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(Apartment, PostsFromManyThreadsKeepEachThreadsOrder) {
    Apartment apartment;
    constexpr int kThreads = 4;
    constexpr int kPerThread = 2000;
    std::vector<std::vector<int>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&apartment, &seen, t] {
            for (int i = 0; i < kPerThread; ++i) {
                apartment.Post([&seen, t, i] { seen[t].push_back(i); });
            }
        });
    }
    std::size_t ran = 0;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (ran < kThreads * kPerThread && std::chrono::steady_clock::now() < deadline) {
        ran += apartment.WaitAndDrain(100ms);
    }
    for (std::thread& t : threads) {
        t.join();
    }
    ran += apartment.Drain();
    EXPECT_EQ(ran, static_cast<std::size_t>(kThreads * kPerThread));
    for (const std::vector<int>& s : seen) {
        ASSERT_EQ(s.size(), static_cast<std::size_t>(kPerThread));
        for (int i = 0; i < kPerThread; ++i) {
            ASSERT_EQ(s[i], i);
        }
    }
}

TEST(Apartment, WaitAndDrainWakesOnAPostAndTimesOut) {
    Apartment apartment;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(apartment.WaitAndDrain(50ms), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);

    std::atomic<bool> ran{false};
    std::thread poster([&] {
        std::this_thread::sleep_for(20ms);
        apartment.Post([&] { ran = true; });
    });
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(apartment.WaitAndDrain(10s), 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_TRUE(ran);
    poster.join();
}

TEST(Apartment, AThrowingCallLeavesTheRestQueued) {
    Apartment apartment;
    int after = 0;
    apartment.Post([] { throw std::runtime_error("boom"); });
    apartment.Post([&] { ++after; });
    EXPECT_THROW(apartment.Drain(), std::runtime_error);
    EXPECT_EQ(apartment.Pending(), 1u);
    EXPECT_TRUE(Readable(apartment.EventFd()));
    EXPECT_EQ(apartment.Drain(), 1u);
    EXPECT_EQ(after, 1);

    // An empty function is taken off the queue without harm.
    apartment.Post(nullptr);
    EXPECT_EQ(apartment.Drain(), 1u);
    EXPECT_FALSE(Readable(apartment.EventFd()));
}

TEST(Apartment, UiApartmentIsOneForTheProcess) {
    EXPECT_EQ(&Apartment::Ui(), &Apartment::Ui());
    Apartment::Ui().Drain();
    int n = 0;
    std::thread([&n] { Apartment::Ui().Post([&n] { ++n; }); }).join();
    EXPECT_EQ(Apartment::Ui().Drain(), 1u);
    EXPECT_EQ(n, 1);
}

}  // namespace
