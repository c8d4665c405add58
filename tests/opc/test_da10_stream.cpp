// The OPC DA 1.0 data streams: decoding blocks of every shape, damaged ones included, and the
// 1.0 subscription end to end.

#include <bit>
#include <vector>

#include "com/bstr.h"
#include "com/clipboard_format.h"
#include "com/data_object.h"
#include "opc/advise_sink.h"
#include "opc/da10_stream.h"
#include "opcda/errors.h"
#include "opcda/quality.h"
#include "opcda/streams.h"
#include "runtime_fixture.h"
#include "stream_blocks.h"

namespace {

std::u16string TextOf(const VARIANT& v) {
    return v.vt == VT_BSTR ? std::u16string(BstrView(v.bstrVal)) : u"<not a string>";
}

TEST(Da10Decoder, DecodesEveryItemOfAWellFormedBlock) {
    const std::vector<StreamItem> items{
        Scalar(11, VT_I4, 42, 0xC0, {1, 2}),
        Scalar(12, VT_R8, std::bit_cast<std::uint64_t>(2.5), 0xC0, {3, 4}),
        // A length of 10 bytes is 5 characters, whatever follows them.
        Text(13, u"HelloWorld", 10, 0x40, {5, 6}), Scalar(14, VT_BOOL, 0xFFFF), Text(15, u"", 0),
        Text(16, u"abc", 5),  // odd: 2 characters
    };
    const auto block = DataBlock(true, items, S_OK, 77);
    const Da10Stream timed = DecodeDa10Stream(block.data(), block.size(), Da10Format::dataWithTime);
    ASSERT_TRUE(timed.accepted);
    EXPECT_FALSE(timed.truncated);
    EXPECT_EQ(timed.groupHandle, 77u);
    EXPECT_EQ(timed.clientHandles, (std::vector<OPCHANDLE>{11, 12, 13, 14, 15, 16}));
    ASSERT_EQ(timed.values.size(), 6u);
    EXPECT_EQ(timed.values[0].vt, VT_I4);
    EXPECT_EQ(timed.values[0].lVal, 42);
    EXPECT_EQ(timed.values[1].dblVal, 2.5);
    EXPECT_EQ(TextOf(timed.values[2]), u"Hello");
    EXPECT_EQ(timed.values[3].boolVal, VARIANT_TRUE);
    EXPECT_EQ(TextOf(timed.values[4]), u"");
    EXPECT_EQ(TextOf(timed.values[5]), u"ab");
    EXPECT_EQ(timed.qualities[2], 0x40);
    ASSERT_EQ(timed.timestamps.size(), 6u);
    EXPECT_EQ(timed.timestamps[1].dwLowDateTime, 3u);
    EXPECT_EQ(timed.timestamps[1].dwHighDateTime, 4u);
    EXPECT_EQ(timed.MasterQuality(), S_FALSE);

    const auto untimedBlock = DataBlock(false, {items[0], items[1]});
    const Da10Stream untimed =
        DecodeDa10Stream(untimedBlock.data(), untimedBlock.size(), Da10Format::data);
    ASSERT_TRUE(untimed.accepted);
    EXPECT_EQ(untimed.values.size(), 2u);
    EXPECT_TRUE(untimed.timestamps.empty());
    EXPECT_EQ(untimed.MasterQuality(), S_OK);
}

TEST(Da10Decoder, IgnoresBlocksWithAFailedStatusOrNoCompleteHeader) {
    const auto failed = DataBlock(true, {Scalar(1, VT_I4, 5)}, E_FAIL);
    const Da10Stream ignored =
        DecodeDa10Stream(failed.data(), failed.size(), Da10Format::dataWithTime);
    EXPECT_FALSE(ignored.accepted);
    EXPECT_TRUE(ignored.values.empty());

    const auto whole = DataBlock(true, {});
    for (std::size_t size = 0; size < whole.size(); ++size) {
        EXPECT_FALSE(DecodeDa10Stream(whole.data(), size, Da10Format::dataWithTime).accepted);
        EXPECT_FALSE(DecodeDa10Stream(whole.data(), size, Da10Format::writeComplete).accepted &&
                     size < 16);
    }
    EXPECT_FALSE(DecodeDa10Stream(nullptr, 100, Da10Format::data).accepted);
}

TEST(Da10Decoder, StopsAtTheFirstHeaderValueOrStringOutsideTheBlock) {
    const std::vector<StreamItem> items{
        Scalar(1, VT_I4, 10),
        Scalar(2, VT_I4, 20),
        Text(3, u"text"),
    };
    const auto block = DataBlock(true, items);
    // Every prefix of the block decodes without reading past it, keeping whole items only (the
    // string's terminating zero is not needed).
    for (std::size_t size = 20; size < block.size() - 2; ++size) {
        const std::vector<std::uint8_t> cut(block.begin(), block.begin() + size);
        const Da10Stream s = DecodeDa10Stream(cut.data(), cut.size(), Da10Format::dataWithTime);
        ASSERT_TRUE(s.accepted) << size;
        EXPECT_TRUE(s.truncated) << size;
        EXPECT_LT(s.values.size(), 3u) << size;
    }

    // A value offset past the end: the items before it are kept.
    auto badOffset = block;
    Put<DWORD>(badOffset, 20 + 20 + 4, 0xFFFFFFF0u);
    const Da10Stream s1 =
        DecodeDa10Stream(badOffset.data(), badOffset.size(), Da10Format::dataWithTime);
    EXPECT_TRUE(s1.truncated);
    EXPECT_EQ(s1.clientHandles, (std::vector<OPCHANDLE>{1}));

    // A string whose length runs past the end.
    auto longString = DataBlock(true, {items[0], Text(3, u"ab", 0x7FFFFFFF)});
    const Da10Stream s2 =
        DecodeDa10Stream(longString.data(), longString.size(), Da10Format::dataWithTime);
    EXPECT_TRUE(s2.truncated);
    EXPECT_EQ(s2.clientHandles, (std::vector<OPCHANDLE>{1}));

    // A count far beyond what the block holds costs nothing it does not hold.
    const auto claims = DataBlock(false, {items[0]}, S_OK, 0, 0xFFFFFFFFu);
    const Da10Stream s3 = DecodeDa10Stream(claims.data(), claims.size(), Da10Format::data);
    EXPECT_TRUE(s3.truncated);
    EXPECT_LE(s3.values.size(), 2u);  // the value bytes may pass for one more header
    EXPECT_LE(s3.values.capacity(), 2u);
}

TEST(Da10Decoder, NeverTakesArraysReferencesOrInterfacesAsPointers) {
    const std::vector<StreamItem> items{
        Scalar(1, VT_ARRAY | VT_R8, 0x1234),
        Scalar(2, VT_BYREF | VT_I4, 0x5678),
        Scalar(3, VT_UNKNOWN, 0x9ABC),
        Scalar(4, 0x7FF, 1),
    };
    const auto block = DataBlock(false, items);
    const Da10Stream s = DecodeDa10Stream(block.data(), block.size(), Da10Format::data);
    ASSERT_EQ(s.values.size(), 4u);
    for (const VARIANT& v : s.values) {
        EXPECT_EQ(v.vt, VT_EMPTY);
    }
    EXPECT_EQ(s.clientHandles, (std::vector<OPCHANDLE>{1, 2, 3, 4}));
}

TEST(Da10Decoder, ReadsWriteCompletions) {
    const auto block = WriteCompleteBlock({{5, S_OK}, {6, OPC_E_BADRIGHTS}});
    const Da10Stream s = DecodeDa10Stream(block.data(), block.size(), Da10Format::writeComplete);
    ASSERT_TRUE(s.accepted);
    EXPECT_EQ(s.clientHandles, (std::vector<OPCHANDLE>{5, 6}));
    EXPECT_EQ(s.errors, (std::vector<HRESULT>{S_OK, OPC_E_BADRIGHTS}));
    const Da10Stream cut =
        DecodeDa10Stream(block.data(), block.size() - 1, Da10Format::writeComplete);
    EXPECT_TRUE(cut.truncated);
    EXPECT_EQ(cut.errors.size(), 1u);
    const auto failed = WriteCompleteBlock({{5, S_OK}}, E_FAIL);
    EXPECT_FALSE(
        DecodeDa10Stream(failed.data(), failed.size(), Da10Format::writeComplete).accepted);
}

using StreamSubscriptionTest = RuntimeTest;

// Hands a block to the sink as a server would: in a global memory block it frees afterwards.
void Deliver(COPCAdviseSink& sink, UINT format, const std::vector<std::uint8_t>& block,
             DWORD tymed = TYMED_HGLOBAL) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, block.size());
    ASSERT_NE(memory, nullptr);
    std::memcpy(GlobalLock(memory), block.data(), block.size());
    GlobalUnlock(memory);
    FORMATETC formatEtc{static_cast<CLIPFORMAT>(format), nullptr, DVASPECT_CONTENT, -1, tymed};
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = memory;
    medium.pUnkForRelease = nullptr;
    sink.OnDataChange(&formatEtc, &medium);
    ReleaseStgMedium(&medium);
}

TEST_F(StreamSubscriptionTest, AStreamGroupReceivesItsItemsAndWritesThroughTheStream) {
    const std::size_t globalBlocks = GlobalLiveBlocks();
    auto server = Connected();
    auto made = std::make_unique<COPCGroup>(*server);
    made->name = "Stream";
    made->accessMode = COPCGroup::accessStream;
    COPCGroup* group = server->AddGroup(std::move(made));
    ASSERT_NE(group, nullptr);
    EXPECT_TRUE(group->IsSubscribed());
    COPCItem* text = AddItem(*group, "Signals.Text", 1);
    COPCItem* value = AddItem(*group, "Static.Int32", 2);
    ASSERT_NE(value, nullptr);
    host.groupSelected = true;

    sim.AdvanceTime(1000ms);
    ASSERT_EQ(host.updates.size(), 2u);
    EXPECT_EQ(host.notifications, 1);
    EXPECT_EQ(BstrToUtf8(text->Value().bstrVal), "Alpha");
    EXPECT_EQ(text->quality, OPC_QUALITY_GOOD);
    EXPECT_EQ(text->timestamp.dwHighDateTime, 0x01DC7AB1u);  // 2026-01-01 00:00:01 UTC

    value->Write("31");
    sim.AdvanceTime(1000ms);
    EXPECT_EQ(value->Value().lVal, 31);
    EXPECT_EQ(ui.MessageCount(), 0u);

    // A server that refuses the advise leaves the group listed, without data.
    sim.Faults().callResults["DAdvise"] = E_FAIL;
    auto refused = std::make_unique<COPCGroup>(*server);
    refused->name = "Refused";
    refused->accessMode = COPCGroup::accessStream;
    COPCGroup* quiet = server->AddGroup(std::move(refused));
    sim.Faults().callResults.clear();
    ASSERT_NE(quiet, nullptr);
    EXPECT_FALSE(quiet->IsSubscribed());
    COPCItem* silent = AddItem(*quiet, "Signals.Ramp", 3);
    ASSERT_NE(silent, nullptr);
    sim.AdvanceTime(2000ms);
    EXPECT_EQ(silent->Value().vt, VT_INT);

    server.reset();
    EXPECT_EQ(GlobalLiveBlocks(), globalBlocks);
    EXPECT_EQ(LeakedTaskBlocks(), 0u);
}

TEST_F(StreamSubscriptionTest, TheSinkDecodesOnlyWhatItWasGiven) {
    auto server = Connected();
    COPCGroup* group = AddGroup(*server, "G");
    ASSERT_NE(group, nullptr);
    COPCItem* item = AddItem(*group, "Static.Int32", 1);
    ASSERT_NE(item, nullptr);
    const auto sink = MakeComObject<COPCAdviseSink>(group);
    EXPECT_EQ(sink->DataWithTimeFormat(), RegisterClipboardFormatA(OPCSTMFORMATDATATIME));
    const FILETIME before = item->timestamp;
    const OPCHANDLE h = item->ClientHandle();

    // Untimed: the value and quality arrive, the timestamp stays.
    Deliver(*sink, sink->DataFormat(), DataBlock(false, {Scalar(h, VT_I4, 7)}));
    EXPECT_EQ(item->Value().lVal, 7);
    EXPECT_EQ(item->timestamp.dwLowDateTime, before.dwLowDateTime);
    EXPECT_EQ(item->timestamp.dwHighDateTime, before.dwHighDateTime);
    EXPECT_EQ(host.updates.size(), 1u);

    // A failed status, another medium, another format, a write completion: nothing changes.
    Deliver(*sink, sink->DataFormat(), DataBlock(false, {Scalar(h, VT_I4, 8)}, E_FAIL));
    Deliver(*sink, sink->DataFormat(), DataBlock(false, {Scalar(h, VT_I4, 8)}), TYMED_ISTREAM);
    Deliver(*sink, RegisterClipboardFormatA("SomethingElse"),
            DataBlock(false, {Scalar(h, VT_I4, 8)}));
    Deliver(*sink, sink->WriteCompleteFormat(), WriteCompleteBlock({{h, S_OK}}));
    sink->OnDataChange(nullptr, nullptr);
    EXPECT_EQ(item->Value().lVal, 7);
    EXPECT_EQ(host.updates.size(), 1u);

    // A timed block cut short delivers its whole items.
    auto timed = DataBlock(true, {Scalar(h, VT_I4, 9, 0xC0, {9, 9}), Scalar(h, VT_I4, 10)});
    timed.resize(timed.size() - 16);  // the second value is gone
    Deliver(*sink, sink->DataWithTimeFormat(), timed);
    EXPECT_EQ(item->Value().lVal, 9);
    EXPECT_EQ(item->timestamp.dwLowDateTime, 9u);
    EXPECT_EQ(host.updates.size(), 2u);

    sink->DetachGroup();
    Deliver(*sink, sink->DataFormat(), DataBlock(false, {Scalar(h, VT_I4, 11)}));
    EXPECT_EQ(item->Value().lVal, 9);
}

}  // namespace
