// What an update sends: only changes after the first, honouring the deadband, in reused
// arrays, and as 1.0 data streams to advise sinks.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "opcda/streams.h"
#include "sim/sim_time.h"
#include "sim_client.h"

using namespace std::chrono_literals;

namespace {

TEST(Delivery, FirstUpdateSendsAllThenOnlyChanges) {
    Simulator sim;
    TestServer s(sim);
    auto group = s.AddGroup(u"g", 1000, 5);
    const auto handles =
        AddItems(group.Get(), {u"Signals.Ramp", u"Static.Int32", u"Signals.Square"});
    auto callback = MakeComObject<RecordingCallback>();
    Advise(group.Get(), callback.Get());

    sim.AdvanceTime(1000ms);
    ASSERT_EQ(callback->calls.size(), 1u);
    EXPECT_EQ(callback->calls[0].handles, (std::vector<OPCHANDLE>{1, 2, 3}));
    EXPECT_EQ(callback->calls[0].group, 5u);
    for (const WORD q : callback->calls[0].qualities) {
        EXPECT_EQ(q, OPC_QUALITY_GOOD);
    }
    callback->calls.clear();

    sim.AdvanceTime(1000ms);  // only the ramp moved
    ASSERT_EQ(callback->calls.size(), 1u);
    EXPECT_EQ(callback->calls[0].handles, (std::vector<OPCHANDLE>{1}));
    EXPECT_EQ(callback->calls[0].values[0].Get().dblVal, 2.0);
    callback->calls.clear();

    // A write shows at the next update; an item made inactive and active again is sent again.
    ComPtr<IOPCSyncIO> sync;
    ASSERT_EQ(group.As(sync), S_OK);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(u"12");
    OPCHANDLE h = handles[1];
    HRESULT* errors = nullptr;
    ASSERT_EQ(sync->Write(1, &h, &v, &errors), S_OK);
    CoTaskMemFree(errors);
    VariantClear(&v);
    OPCHANDLE square = handles[2];
    ASSERT_EQ(group->SetActiveState(1, &square, FALSE, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_EQ(group->SetActiveState(1, &square, TRUE, &errors), S_OK);
    CoTaskMemFree(errors);
    sim.AdvanceTime(1000ms);
    ASSERT_EQ(callback->calls.size(), 1u);
    EXPECT_EQ(callback->calls[0].handles, (std::vector<OPCHANDLE>{1, 2, 3}));
    EXPECT_EQ(callback->calls[0].values[1].Type(), VT_I4);
    EXPECT_EQ(callback->calls[0].values[1].Get().lVal, 12);
}

TEST(Delivery, DeadbandHoldsBackSmallChangesOfAnalogItems) {
    Simulator sim;
    TestServer s(sim);
    // 5 % of the ramp's range of 100 is 5.0; the ramp rises 1.0 per second.
    auto group = s.AddGroup(u"g", 1000, 1, TRUE, 5.0f);
    AddItems(group.Get(), {u"Signals.Ramp", u"Signals.Counter"});
    auto callback = MakeComObject<RecordingCallback>();
    Advise(group.Get(), callback.Get());
    sim.AdvanceTime(10000ms);
    std::vector<double> ramp;
    int counter = 0;
    for (const Delivered& d : callback->calls) {
        for (std::size_t i = 0; i < d.handles.size(); ++i) {
            if (d.handles[i] == 1) {
                ramp.push_back(d.values[i].Get().dblVal);
            } else {
                ++counter;
            }
        }
    }
    // Sent at 1 s, then when more than 5.0 away from what was sent: 7 s.
    EXPECT_EQ(ramp, (std::vector<double>{1.0, 7.0}));
    // The counter has no range: the deadband does not hold it back.
    EXPECT_EQ(counter, 10);
}

TEST(Delivery, ConversionFailuresAreBadQualityWithAnError) {
    Simulator sim;
    TestServer s(sim);
    auto group = s.AddGroup(u"g", 1000, 1);
    // Load items grow past the 8-bit range; the first ones fit at the start.
    AddItems(group.Get(), {u"Load.Item00100", u"Load.Item00300"}, VT_UI1);
    auto callback = MakeComObject<RecordingCallback>();
    Advise(group.Get(), callback.Get());
    sim.AdvanceTime(1000ms);
    ASSERT_EQ(callback->calls.size(), 1u);
    const Delivered& d = callback->calls[0];
    EXPECT_EQ(d.values[0].Type(), VT_UI1);
    EXPECT_EQ(d.values[0].Get().bVal, 101);
    EXPECT_EQ(d.qualities[0], OPC_QUALITY_GOOD);
    EXPECT_EQ(d.errors[0], S_OK);
    EXPECT_EQ(d.values[1].Type(), VT_EMPTY);
    EXPECT_EQ(d.qualities[1], OPC_QUALITY_BAD);
    EXPECT_EQ(d.errors[1], OPC_E_RANGE);
}

TEST(Delivery, LargeGroupsReuseTheirArrays) {
    Simulator sim;
    TestServer s(sim);
    auto group = s.AddGroup(u"load", 100, 1);
    std::vector<std::u16string> ids;
    for (int i = 0; i < 10000; ++i) {
        char16_t name[32];
        const std::string text =
            "Load.Item" + std::string(5 - std::to_string(i).size(), '0') + std::to_string(i);
        for (std::size_t c = 0; c <= text.size(); ++c) {
            name[c] = static_cast<char16_t>(text.c_str()[c]);
        }
        ids.emplace_back(name);
    }
    AddItems(group.Get(), ids);
    auto callback = MakeComObject<RecordingCallback>();
    std::vector<const OPCHANDLE*> arrays;
    callback->onData = [&](const Delivered& d) {
        EXPECT_EQ(d.handles.size(), 10000u);
        arrays.push_back(d.handleArray);
        callback->calls.clear();
    };
    Advise(group.Get(), callback.Get());
    sim.AdvanceTime(500ms);
    ASSERT_EQ(arrays.size(), 5u);
    for (const OPCHANDLE* a : arrays) {
        EXPECT_EQ(a, arrays.front());
    }
}

TEST(Delivery, DataStreamsReachAdviseSinksAndFreeTheirMemory) {
    Simulator sim;
    TestServer s(sim);
    const std::size_t globalsBefore = GlobalLiveBlocks();
    auto group = s.AddGroup(u"g", 1000, 42);
    const auto handles = AddItems(group.Get(), {u"Signals.Text", u"Static.Double"});
    ComPtr<IDataObject> data;
    ASSERT_EQ(group.As(data), S_OK);
    auto sink = MakeComObject<RecordingSink>();
    const CLIPFORMAT timed =
        static_cast<CLIPFORMAT>(RegisterClipboardFormatA(OPCSTMFORMATDATATIME));
    const CLIPFORMAT writes =
        static_cast<CLIPFORMAT>(RegisterClipboardFormatA(OPCSTMFORMATWRITECOMPLETE));
    FORMATETC format{timed, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    DWORD dataConnection = 0;
    ASSERT_EQ(data->DAdvise(&format, ADVF_PRIMEFIRST, sink.Get(), &dataConnection), S_OK);
    format.cfFormat = writes;
    DWORD writeConnection = 0;
    ASSERT_EQ(data->DAdvise(&format, 0, sink.Get(), &writeConnection), S_OK);
    FORMATETC wrongMedium{timed, nullptr, DVASPECT_CONTENT, -1, TYMED_FILE};
    DWORD unused = 0;
    EXPECT_EQ(data->DAdvise(&wrongMedium, 0, sink.Get(), &unused), DV_E_TYMED);

    sim.AdvanceTime(1000ms);
    ASSERT_EQ(sink->blocks.size(), 1u);
    const auto& block = sink->blocks[0].bytes;
    EXPECT_EQ(sink->blocks[0].format, timed);
    OPCGROUPHEADER header;
    std::memcpy(&header, block.data(), sizeof header);
    EXPECT_EQ(header.dwSize, block.size());
    EXPECT_EQ(header.dwItemCount, 2u);
    EXPECT_EQ(header.hClientGroup, 42u);
    OPCITEMHEADER1 first;
    std::memcpy(&first, block.data() + 20, sizeof first);
    EXPECT_EQ(first.hClient, 1u);
    EXPECT_EQ(FileTimeToSimMs(first.ftTimeStampItem), 1000u);
    DWORD length = 0;
    std::memcpy(&length, block.data() + first.dwValueOffset + 16, 4);
    EXPECT_EQ(length, 10u);  // "Alpha"

    ComPtr<IOPCAsyncIO> async;
    ASSERT_EQ(group.As(async), S_OK);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = 3.5;
    OPCHANDLE h = handles[1];
    DWORD transaction = 0;
    HRESULT* errors = nullptr;
    EXPECT_EQ(async->Write(dataConnection, 1, &h, &v, &transaction, &errors),
              CONNECT_E_NOCONNECTION);
    ASSERT_EQ(async->Write(writeConnection, 1, &h, &v, &transaction, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_NE(transaction, 0u);
    sim.AdvanceTime(0ms);
    ASSERT_EQ(sink->blocks.size(), 2u);
    EXPECT_EQ(sink->blocks[1].format, writes);
    OPCGROUPHEADERWRITE writeHeader;
    std::memcpy(&writeHeader, sink->blocks[1].bytes.data(), sizeof writeHeader);
    EXPECT_EQ(writeHeader.dwTransactionID, transaction);
    EXPECT_EQ(writeHeader.dwItemCount, 1u);

    ASSERT_EQ(data->DUnadvise(dataConnection), S_OK);
    ASSERT_EQ(data->DUnadvise(writeConnection), S_OK);
    sim.AdvanceTime(5000ms);
    EXPECT_EQ(sink->blocks.size(), 2u);
    EXPECT_EQ(GlobalLiveBlocks(), globalsBefore);
}

}  // namespace
