// Data changes through the 2.0 subscription: what each update of a group sends, when, in which
// types and with which handles, qualities and times.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "conformance.h"
#include "expected_space.h"
#include "hr_check.h"
#include "sinks.h"

namespace {

using namespace conformance;

CONFORMANCE_SUITE(DataChange);

constexpr OPCHANDLE kGroupClient = 0x77;

struct Subscribed {
    AddedGroup group;
    std::vector<OPCHANDLE> handles;
    std::unique_ptr<Subscription> subscription;

    DataCallbackSink& Sink() { return *subscription->sink; }
    // The data changes sent by updates (not answers to refreshes), in order.
    std::vector<const CallbackDelivery*> Updates() const {
        std::vector<const CallbackDelivery*> out;
        for (const CallbackDelivery* d :
             subscription->sink->OfKind(CallbackDelivery::Kind::DataChange)) {
            if (d->transactionId == 0) {
                out.push_back(d);
            }
        }
        return out;
    }
};

Subscribed Subscribe(IOPCServer& server, const std::vector<ItemDef>& defs, DWORD rate = 1000,
                     bool active = true, const std::string& name = "Data") {
    Subscribed out;
    out.group = AddGroup(
        server, {.name = name, .active = active, .rate = rate, .clientHandle = kGroupClient});
    EXPECT_TRUE(SUCCEEDED(out.group.hr));
    out.subscription = std::make_unique<Subscription>(out.group.object.Get());
    EXPECT_HR(out.subscription->hr, S_OK);
    if (!defs.empty()) {
        const ItemOutcome added = AddItems(out.group.object.Get(), defs);
        EXPECT_HR(added.hr, S_OK);
        for (const ItemResult& r : added.items) {
            out.handles.push_back(r.server);
        }
    }
    out.handles.resize(defs.size());
    return out;
}

std::set<OPCHANDLE> ClientsOf(const CallbackDelivery& d) {
    std::set<OPCHANDLE> out;
    for (const DeliveredItem& item : d.items) {
        EXPECT_TRUE(out.insert(item.client).second) << "item " << item.client << " sent twice";
    }
    return out;
}

void SetGroupActive(IUnknown* group, bool active) {
    ComPtr<IOPCGroupStateMgt> mgt = Query<IOPCGroupStateMgt>(group);
    ASSERT_TRUE(mgt);
    BOOL flag = active ? TRUE : FALSE;
    EXPECT_HR(mgt->SetState(nullptr, nullptr, &flag, nullptr, nullptr, nullptr, nullptr), S_OK);
}

TEST_P(DataChange, FirstUpdateSendsEveryActiveItemThenOnlyChanges) {
    Subscribed s = Subscribe(Server(), {{.id = "Static.Int32", .client = 1},
                                        {.id = "Static.String", .client = 2},
                                        {.id = "Signals.Ramp", .client = 3},
                                        {.id = "Static.Double", .client = 4, .active = false}});
    Advance(milliseconds(1000));
    auto updates = s.Updates();
    ASSERT_FALSE(updates.empty()) << "no update within one update period";
    const CallbackDelivery& first = *updates.front();
    EXPECT_EQ(ClientsOf(first), (std::set<OPCHANDLE>{1, 2, 3}));
    EXPECT_EQ(first.group, kGroupClient);
    EXPECT_HR(first.masterQuality, S_OK);
    EXPECT_HR(first.masterError, S_OK);
    for (const DeliveredItem& item : first.items) {
        EXPECT_EQ(item.quality, OPC_QUALITY_GOOD);
        EXPECT_HR(item.error, S_OK);
    }
    ASSERT_NE(first.Find(1), nullptr);
    EXPECT_EQ(first.Find(1)->value.Type(), VT_I4);
    EXPECT_EQ(NumberOf(first.Find(1)->value.Get()), 0.0);
    EXPECT_EQ(TextOf(first.Find(2)->value.Get()), "");
    const DeliveredItem* ramp = first.Find(3);
    ASSERT_NE(ramp, nullptr);
    EXPECT_NEAR(NumberOf(ramp->value.Get()).value_or(-1), RampAt(SimSeconds(ramp->time)), 1e-6);

    // Later updates carry only what changed: the ramp, every time.
    s.Sink().Clear();
    Advance(milliseconds(3000));
    updates = s.Updates();
    if (Exact()) {
        EXPECT_EQ(updates.size(), 3u);
    } else {
        EXPECT_GE(updates.size(), 2u);
    }
    for (const CallbackDelivery* d : updates) {
        EXPECT_EQ(ClientsOf(*d), (std::set<OPCHANDLE>{3}));
    }

    // A written value is sent once, with the next update.
    ASSERT_HR(SyncWrite(s.group.object.Get(), {s.handles[0]}, {Variant::I4(5)}).hr, S_OK);
    s.Sink().Clear();
    Advance(milliseconds(1000));
    updates = s.Updates();
    ASSERT_FALSE(updates.empty());
    ASSERT_NE(updates.front()->Find(1), nullptr);
    EXPECT_EQ(NumberOf(updates.front()->Find(1)->value.Get()), 5.0);
    // Writing the same value again is no change.
    ASSERT_HR(SyncWrite(s.group.object.Get(), {s.handles[0]}, {Variant::I4(5)}).hr, S_OK);
    s.Sink().Clear();
    Advance(milliseconds(1000));
    for (const CallbackDelivery* d : s.Updates()) {
        EXPECT_EQ(d->Find(1), nullptr) << "an unchanged value was sent again";
    }
    EXPECT_TRUE(s.Sink().problems.empty()) << s.Sink().problems.front();
}

TEST_P(DataChange, TimesAdvanceAndValuesFollowThem) {
    Subscribed s = Subscribe(Server(),
                             {{.id = "Signals.Ramp", .client = 1},
                              {.id = "Signals.Sine", .client = 2},
                              {.id = "Signals.Counter", .client = 3},
                              {.id = "Signals.Toggle", .client = 4},
                              {.id = "Signals.Square", .client = 5},
                              {.id = "Signals.Text", .client = 6},
                              {.id = "Signals.Random", .client = 7}},
                             500);
    Advance(milliseconds(500));
    s.Sink().Clear();
    for (int i = 0; i < 50; ++i) {
        Advance(milliseconds(500));
    }
    const auto updates = s.Updates();
    ASSERT_GE(updates.size(), Exact() ? 50u : 20u);

    std::uint64_t previous = 0;
    std::optional<bool> toggleAtEven;
    std::optional<bool> squareAtEven;
    std::optional<std::size_t> textShift;
    std::set<double> randoms;
    for (const CallbackDelivery* d : updates) {
        const DeliveredItem* ramp = d->Find(1);
        ASSERT_NE(ramp, nullptr) << "the ramp changes at every update";
        const std::uint64_t ticks = Ticks(ramp->time);
        EXPECT_GT(ticks, previous) << "time did not advance";
        if (Exact() && previous != 0) {
            EXPECT_EQ(ticks - previous, 500 * kTicksPerMs) << "updates not at the group's rate";
        }
        previous = ticks;
        for (const DeliveredItem& item : d->items) {
            EXPECT_EQ(Ticks(item.time), ticks) << "one update, one time";
            const double t = SimSeconds(item.time);
            const std::optional<double> n = NumberOf(item.value.Get());
            switch (item.client) {
                case 1:
                    EXPECT_NEAR(n.value_or(-1), RampAt(t), 1e-6);
                    break;
                case 2:
                    EXPECT_NEAR(n.value_or(-100), SineAt(t), 1e-6);
                    break;
                case 3:
                    EXPECT_EQ(item.value.Type(), VT_UI4);
                    EXPECT_EQ(n, CounterAt(t));
                    break;
                case 4: {
                    // Flips every second.
                    const bool even = static_cast<long>(std::floor(t + 1e-9)) % 2 == 0;
                    const bool value = item.value->boolVal != VARIANT_FALSE;
                    if (!toggleAtEven) {
                        toggleAtEven = even ? value : !value;
                    }
                    EXPECT_EQ(value, even ? *toggleAtEven : !*toggleAtEven) << "at " << t;
                    break;
                }
                case 5: {
                    // Flips every five seconds.
                    const bool even = static_cast<long>(std::floor(t / 5 + 1e-9)) % 2 == 0;
                    const bool value = item.value->boolVal != VARIANT_FALSE;
                    if (!squareAtEven) {
                        squareAtEven = even ? value : !value;
                    }
                    EXPECT_EQ(value, even ? *squareAtEven : !*squareAtEven) << "at " << t;
                    break;
                }
                case 6: {
                    const std::optional<std::string> word = TextOf(item.value.Get());
                    ASSERT_TRUE(word);
                    const auto at = std::find(TextCycle().begin(), TextCycle().end(), *word);
                    ASSERT_NE(at, TextCycle().end()) << *word;
                    const std::size_t index = static_cast<std::size_t>(at - TextCycle().begin());
                    const auto slot = static_cast<std::size_t>(std::floor(t / 2 + 1e-9));
                    if (!textShift) {
                        textShift = (index + 4 - slot % 4) % 4;
                    }
                    EXPECT_EQ(index, (slot + *textShift) % 4) << "at " << t;
                    break;
                }
                case 7:
                    EXPECT_EQ(item.value.Type(), VT_I4);
                    EXPECT_GE(n.value_or(-1), 0);
                    EXPECT_LE(n.value_or(1000), 999);
                    randoms.insert(n.value_or(-1));
                    break;
                default:
                    ADD_FAILURE() << "unknown client handle " << item.client;
            }
        }
    }
    EXPECT_GT(randoms.size(), 5u) << "the random signal hardly changes";
    EXPECT_TRUE(s.Sink().problems.empty()) << s.Sink().problems.front();
}

TEST_P(DataChange, InactiveGroupsSendNothingAndSendEverythingOnceActive) {
    Subscribed s = Subscribe(
        Server(), {{.id = "Static.Int32", .client = 1}, {.id = "Signals.Ramp", .client = 2}}, 1000,
        false);
    Advance(milliseconds(3000));
    EXPECT_TRUE(s.Updates().empty()) << "an inactive group sent data";

    SetGroupActive(s.group.object.Get(), true);
    Advance(milliseconds(1000));
    auto updates = s.Updates();
    ASSERT_FALSE(updates.empty());
    EXPECT_EQ(ClientsOf(*updates.front()), (std::set<OPCHANDLE>{1, 2}));

    SetGroupActive(s.group.object.Get(), false);
    s.Sink().Clear();
    Advance(milliseconds(3000));
    EXPECT_TRUE(s.Updates().empty()) << "a deactivated group sent data";

    // Active again: the unchanged item comes too.
    SetGroupActive(s.group.object.Get(), true);
    Advance(milliseconds(1000));
    updates = s.Updates();
    ASSERT_FALSE(updates.empty());
    EXPECT_EQ(ClientsOf(*updates.front()), (std::set<OPCHANDLE>{1, 2}));
}

TEST_P(DataChange, InactiveItemsAreNotSent) {
    Subscribed s = Subscribe(Server(), {{.id = "Static.Int32", .client = 1},
                                        {.id = "Signals.Ramp", .client = 2},
                                        {.id = "Signals.Sine", .client = 3, .active = false}});
    Advance(milliseconds(1000));
    ASSERT_HR(SetActiveState(s.group.object.Get(), {s.handles[1]}, false).hr, S_OK);
    s.Sink().Clear();
    Advance(milliseconds(3000));
    EXPECT_TRUE(s.Updates().empty()) << "only unchanged and inactive items remain";

    ASSERT_HR(SetActiveState(s.group.object.Get(), {s.handles[1], s.handles[2]}, true).hr, S_OK);
    Advance(milliseconds(1000));
    const auto updates = s.Updates();
    ASSERT_FALSE(updates.empty());
    EXPECT_EQ(ClientsOf(*updates.front()), (std::set<OPCHANDLE>{2, 3}));

    // No items, or none active: no callback at all.
    Subscribed empty = Subscribe(Server(), {}, 1000, true, "Empty");
    Subscribed asleep = Subscribe(Server(), {{.id = "Signals.Ramp", .client = 9, .active = false}},
                                  1000, true, "Asleep");
    Advance(milliseconds(3000));
    EXPECT_TRUE(empty.Sink().received.empty());
    EXPECT_TRUE(asleep.Sink().received.empty());
    EXPECT_TRUE(empty.Sink().problems.empty()) << empty.Sink().problems.front();
}

TEST_P(DataChange, ReactivatedItemIsSentAtTheNextUpdate) {
    Subscribed s = Subscribe(
        Server(), {{.id = "Static.Int32", .client = 1}, {.id = "Signals.Ramp", .client = 2}});
    Advance(milliseconds(1000));
    ASSERT_HR(SetActiveState(s.group.object.Get(), {s.handles[0]}, false).hr, S_OK);
    Advance(milliseconds(1000));
    ASSERT_HR(SetActiveState(s.group.object.Get(), {s.handles[0]}, true).hr, S_OK);
    s.Sink().Clear();
    Advance(milliseconds(1000));
    const auto updates = s.Updates();
    ASSERT_FALSE(updates.empty());
    EXPECT_NE(updates.front()->Find(1), nullptr)
        << "an item made active again was not sent at the next update";
}

TEST_P(DataChange, ValuesComeInTheRequestedTypes) {
    Subscribed s = Subscribe(Server(), {{.id = "Signals.Ramp", .client = 1, .requested = VT_BSTR},
                                        {.id = "Signals.Random", .client = 2, .requested = VT_R8},
                                        {.id = "Static.Bool", .client = 3, .requested = VT_I4},
                                        {.id = "Signals.Counter", .client = 4, .requested = VT_R8},
                                        {.id = "Static.Int32", .client = 5, .requested = VT_BSTR},
                                        {.id = "Static.String", .client = 6}});
    ASSERT_HR(SyncWrite(s.group.object.Get(), {s.handles[2]}, {Variant::Bool(true)}).hr, S_OK);
    Advance(milliseconds(1000));
    auto updates = s.Updates();
    ASSERT_FALSE(updates.empty());
    const CallbackDelivery& first = *updates.front();
    ASSERT_EQ(first.items.size(), 6u);
    const DeliveredItem* ramp = first.Find(1);
    ASSERT_NE(ramp, nullptr);
    const std::optional<std::string> rampText = TextOf(ramp->value.Get());
    ASSERT_TRUE(rampText);
    EXPECT_NEAR(std::stod(*rampText), RampAt(SimSeconds(ramp->time)), 1e-6);
    EXPECT_EQ(first.Find(2)->value.Type(), VT_R8);
    EXPECT_EQ(first.Find(3)->value.Type(), VT_I4);
    EXPECT_EQ(NumberOf(first.Find(3)->value.Get()), -1.0);
    EXPECT_EQ(first.Find(4)->value.Type(), VT_R8);
    EXPECT_EQ(TextOf(first.Find(5)->value.Get()), "0");
    EXPECT_EQ(first.Find(6)->value.Type(), VT_BSTR);

    ASSERT_HR(SetDatatypes(s.group.object.Get(), {s.handles[0]}, {VT_R4}).hr, S_OK);
    s.Sink().Clear();
    Advance(milliseconds(1000));
    updates = s.Updates();
    ASSERT_FALSE(updates.empty());
    ASSERT_NE(updates.front()->Find(1), nullptr);
    EXPECT_EQ(updates.front()->Find(1)->value.Type(), VT_R4);
}

TEST_P(DataChange, HandlesAreTheClientsOwn) {
    Subscribed s = Subscribe(Server(), {{.id = "Signals.Ramp", .client = 0},
                                        {.id = "Signals.Sine", .client = 0xFFFFFFFF},
                                        {.id = "Signals.Counter", .client = 0x80000000}});
    Advance(milliseconds(1000));
    auto updates = s.Updates();
    ASSERT_FALSE(updates.empty());
    EXPECT_EQ(ClientsOf(*updates.front()), (std::set<OPCHANDLE>{0, 0xFFFFFFFF, 0x80000000}));

    ASSERT_HR(SetClientHandles(s.group.object.Get(), s.handles, {10, 20, 30}).hr, S_OK);
    ComPtr<IOPCGroupStateMgt> mgt = Query<IOPCGroupStateMgt>(s.group.object);
    OPCHANDLE group = 0xABCD;
    ASSERT_HR(mgt->SetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &group), S_OK);
    s.Sink().Clear();
    Advance(milliseconds(1000));
    updates = s.Updates();
    ASSERT_FALSE(updates.empty());
    EXPECT_EQ(ClientsOf(*updates.front()), (std::set<OPCHANDLE>{10, 20, 30}));
    EXPECT_EQ(updates.front()->group, 0xABCDu);
}

TEST_P(DataChange, RemovedItemsAndUnadvisedCallbacksGetNothing) {
    Subscribed s = Subscribe(
        Server(), {{.id = "Signals.Ramp", .client = 1}, {.id = "Signals.Sine", .client = 2}});
    Advance(milliseconds(1000));
    ASSERT_HR(RemoveItems(s.group.object.Get(), {s.handles[0]}).hr, S_OK);
    s.Sink().Clear();
    Advance(milliseconds(2000));
    for (const CallbackDelivery* d : s.Updates()) {
        EXPECT_EQ(ClientsOf(*d), (std::set<OPCHANDLE>{2}));
    }
    EXPECT_FALSE(s.Updates().empty());

    EXPECT_HR(s.subscription->Unadvise(), S_OK);
    s.Sink().Clear();
    Advance(milliseconds(3000));
    EXPECT_TRUE(s.Sink().received.empty()) << "an unadvised callback was called";
}

TEST_P(DataChange, EachGroupRunsAtItsOwnRate) {
    Subscribed fast =
        Subscribe(Server(), {{.id = "Signals.Ramp", .client = 1}}, 1000, true, "Fast");
    Subscribed slow =
        Subscribe(Server(), {{.id = "Signals.Ramp", .client = 2}}, 3000, true, "Slow");
    Advance(milliseconds(3000));
    fast.Sink().Clear();
    slow.Sink().Clear();
    Advance(milliseconds(6000));
    if (Exact()) {
        EXPECT_EQ(fast.Updates().size(), 6u);
        EXPECT_EQ(slow.Updates().size(), 2u);
    } else {
        EXPECT_GT(fast.Updates().size(), slow.Updates().size());
    }
    for (const CallbackDelivery* d : slow.Updates()) {
        EXPECT_EQ(ClientsOf(*d), (std::set<OPCHANDLE>{2})) << "one group's items in another's";
    }

    // A new rate takes effect.
    ComPtr<IOPCGroupStateMgt> mgt = Query<IOPCGroupStateMgt>(slow.group.object);
    DWORD rate = 500;
    DWORD revised = 0;
    const HRESULT hr = mgt->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(hr == S_OK || hr == OPC_S_UNSUPPORTEDRATE) << HrText(hr);
    Advance(milliseconds(3000));
    slow.Sink().Clear();
    Advance(milliseconds(6000));
    if (Exact()) {
        EXPECT_EQ(slow.Updates().size(), 6000u / revised);
    } else {
        EXPECT_GE(slow.Updates().size(), 6u);
    }
}

TEST_P(DataChange, DeadbandHoldsBackSmallChangesOfAnalogItemsOnly) {
    constexpr float kDeadband = 20.0f;
    Subscribed s = Subscribe(Server(),
                             {{.id = "Signals.Sine", .client = 1},
                              {.id = "Signals.Ramp", .client = 2},
                              {.id = "Plant.Area1.Line1.Temperature", .client = 3},
                              {.id = "Static.Double", .client = 4}},
                             500);
    ComPtr<IOPCGroupStateMgt> mgt = Query<IOPCGroupStateMgt>(s.group.object);
    FLOAT deadband = kDeadband;
    ASSERT_HR(mgt->SetState(nullptr, nullptr, nullptr, nullptr, &deadband, nullptr, nullptr), S_OK);
    // Which items are analog, and their ranges, as the server describes them.
    std::map<OPCHANDLE, double> band;
    for (const ItemAttributes& item : ListItems(s.group.object.Get()).items) {
        if (item.euType == OPC_ANALOG && item.euRange.size() == 2) {
            EXPECT_LT(item.euRange[0], item.euRange[1]) << item.id;
            band[item.client] = kDeadband / 100.0 * (item.euRange[1] - item.euRange[0]);
        }
    }

    std::map<OPCHANDLE, double> last;
    std::map<OPCHANDLE, int> sent;
    for (int step = 0; step < 120; ++step) {
        if (step % 10 == 0) {
            // A tiny change of an item without a range is a change.
            ASSERT_HR(
                SyncWrite(s.group.object.Get(), {s.handles[3]}, {Variant::R8(1.0 + step * 1e-6)})
                    .hr,
                S_OK);
        }
        s.Sink().Clear();
        Advance(milliseconds(500));
        for (const CallbackDelivery* d : s.Updates()) {
            for (const DeliveredItem& item : d->items) {
                const double value = NumberOf(item.value.Get()).value_or(0);
                if (sent[item.client]++ > 0 && band.contains(item.client)) {
                    EXPECT_GT(std::fabs(value - last[item.client]), band[item.client])
                        << "item " << item.client << " sent a change inside the deadband";
                }
                last[item.client] = value;
            }
        }
    }
    EXPECT_EQ(sent[4], 12) << "every change of an item without a range is sent";
    for (const auto& [client, width] : band) {
        EXPECT_GE(sent[client], 2) << "analog item " << client << " never left its deadband";
        EXPECT_LT(sent[client], 120) << "analog item " << client << " ignored the deadband";
    }
}

TEST_P(DataChange, TenThousandItemsChangeAtEveryUpdate) {
    std::vector<ItemDef> defs;
    for (int i = 0; i < kLoadLeaves; ++i) {
        defs.push_back({.id = "Load." + LoadLeafName(i), .client = static_cast<OPCHANDLE>(i + 1)});
    }
    Subscribed s = Subscribe(Server(), defs);
    ASSERT_EQ(s.handles.size(), defs.size());

    for (int round = 0; round < 3; ++round) {
        s.Sink().Clear();
        const auto started = std::chrono::steady_clock::now();
        Advance(milliseconds(1000));
        const auto took = std::chrono::steady_clock::now() - started;
        const auto updates = s.Updates();
        ASSERT_FALSE(updates.empty());
        if (Exact() && round > 0) {
            EXPECT_EQ(updates.size(), 1u);
        }
        const CallbackDelivery& d = *updates.back();
        ASSERT_EQ(d.items.size(), static_cast<std::size_t>(kLoadLeaves));
        for (const DeliveredItem& item : d.items) {
            ASSERT_GE(item.client, 1u);
            ASSERT_LE(item.client, static_cast<OPCHANDLE>(kLoadLeaves));
            const double expected =
                LoadAt(SimSeconds(item.time), static_cast<int>(item.client) - 1);
            ASSERT_NEAR(NumberOf(item.value.Get()).value_or(-1), expected, 1e-6);
        }
        const auto ms = std::chrono::duration_cast<milliseconds>(took).count();
        ::testing::Test::RecordProperty("update_of_10000_items_ms_" + std::to_string(round),
                                        static_cast<int>(ms));
        std::printf("[ figures  ] one update of 10000 items: %lld ms\n",
                    static_cast<long long>(ms));
    }
}

}  // namespace
