// The apartment pump: calls posted from other threads run on the application's thread while
// the Qt event loop runs, in order, and a call that throws does not stop the ones after it.

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "app/apartment_pump.h"
#include "app_fixture.h"
#include "com/apartment.h"

namespace app_test {
namespace {

TEST(ApartmentPump, RunsPostedCallsOnTheEventLoopInOrder) {
    Apartment apartment;
    CApartmentPump pump(apartment);
    const std::thread::id uiThread = std::this_thread::get_id();
    std::vector<int> ran;
    std::atomic<bool> offThread{false};
    std::thread poster([&] {
        for (int i = 0; i < 50; ++i) {
            apartment.Post([&ran, &offThread, uiThread, i] {
                if (std::this_thread::get_id() != uiThread) {
                    offThread = true;
                }
                ran.push_back(i);
            });
        }
    });
    poster.join();
    ASSERT_TRUE(WaitFor([&] { return ran.size() == 50; }, std::chrono::seconds(5)));
    EXPECT_FALSE(offThread);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(ran[static_cast<std::size_t>(i)], i);
    }
    EXPECT_EQ(apartment.Pending(), 0u);

    // Nothing is run without the event loop.
    bool late = false;
    apartment.Post([&late] { late = true; });
    EXPECT_FALSE(late);
    ASSERT_TRUE(WaitFor([&] { return late; }, std::chrono::seconds(5)));
}

TEST(ApartmentPump, AThrowingCallIsTracedAndTheOthersStillRun) {
    ScriptedUiServices ui;
    ScopedUiServices installed(ui);
    Apartment apartment;
    CApartmentPump pump(apartment);
    bool before = false;
    bool after = false;
    apartment.Post([&before] { before = true; });
    apartment.Post([] { throw std::runtime_error("callback broke"); });
    apartment.Post([&after] { after = true; });
    ASSERT_TRUE(WaitFor([&] { return after; }, std::chrono::seconds(5)));
    EXPECT_TRUE(before);
    EXPECT_EQ(pump.CallsFailed(), 1u);
    EXPECT_NE(ui.TraceOutput().find("callback broke"), std::string::npos);
}

}  // namespace
}  // namespace app_test
