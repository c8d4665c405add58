// The 1.0 subscription: IDataObject advise connections and the data streams that arrive through
// them in global memory, decoded byte by byte from their published layout.

#include <algorithm>
#include <set>
#include <vector>

#include "com/clipboard_format.h"
#include "conformance.h"
#include "expected_space.h"
#include "hr_check.h"
#include "sinks.h"

namespace {

using namespace conformance;

CONFORMANCE_SUITE(DataStreams);

constexpr OPCHANDLE kGroupClient = 0x55;

struct StreamGroup {
    AddedGroup group;
    ComPtr<IDataObject> data;
    ComPtr<StreamSink> sink = MakeComObject<StreamSink>();
    std::vector<OPCHANDLE> handles;

    // Advises the sink for a format; the connection, 0 when refused.
    DWORD Advise(CLIPFORMAT format) {
        FORMATETC f = StreamFormat(format);
        DWORD connection = 0;
        EXPECT_HR(data->DAdvise(&f, ADVF_PRIMEFIRST, sink.Get(), &connection), S_OK);
        EXPECT_NE(connection, 0u);
        return connection;
    }
    std::vector<const StreamDelivery*> Data(CLIPFORMAT format, DWORD transaction = 0) const {
        std::vector<const StreamDelivery*> out;
        for (const StreamDelivery* d : sink->OfFormat(format)) {
            if (d->transactionId == transaction) {
                out.push_back(d);
            }
        }
        return out;
    }
};

StreamGroup MakeGroup(IOPCServer& server, const std::vector<ItemDef>& defs) {
    StreamGroup out;
    out.group = AddGroup(server, {.name = "Streams", .clientHandle = kGroupClient});
    EXPECT_TRUE(SUCCEEDED(out.group.hr));
    out.data = Query<IDataObject>(out.group.object);
    EXPECT_TRUE(out.data);
    const ItemOutcome added = AddItems(out.group.object.Get(), defs);
    EXPECT_HR(added.hr, S_OK);
    for (const ItemResult& r : added.items) {
        out.handles.push_back(r.server);
    }
    out.handles.resize(defs.size());
    return out;
}

ErrorsOutcome StreamWrite(IOPCAsyncIO& io, DWORD connection, std::vector<OPCHANDLE> handles,
                          std::vector<VARIANT> values, DWORD* transaction) {
    HRESULT* errors = nullptr;
    const auto count = static_cast<DWORD>(handles.size());
    const HRESULT hr =
        io.Write(connection, count, handles.data(), values.data(), transaction, &errors);
    return TakeErrors(hr, errors, count, "IOPCAsyncIO::Write");
}

ErrorsOutcome StreamRead(IOPCAsyncIO& io, DWORD connection, std::vector<OPCHANDLE> handles,
                         DWORD* transaction) {
    HRESULT* errors = nullptr;
    const auto count = static_cast<DWORD>(handles.size());
    const HRESULT hr =
        io.Read(connection, OPC_DS_DEVICE, count, handles.data(), transaction, &errors);
    return TakeErrors(hr, errors, count, "IOPCAsyncIO::Read");
}

std::set<OPCHANDLE> ClientsOf(const StreamDelivery& d) {
    std::set<OPCHANDLE> out;
    for (const DeliveredItem& item : d.items) {
        out.insert(item.client);
    }
    return out;
}

TEST_P(DataStreams, TimedStreamCarriesHeaderItemsValuesAndStrings) {
    StreamGroup g = MakeGroup(Server(), {{.id = "Static.Int32", .client = 1},
                                         {.id = "Static.String", .client = 2},
                                         {.id = "Signals.Ramp", .client = 3},
                                         {.id = "Signals.Text", .client = 4},
                                         {.id = "Static.Double", .client = 5, .requested = VT_R4}});
    ASSERT_HR(SyncWrite(g.group.object.Get(), {g.handles[1], g.handles[4]},
                        {Variant::Text("Grüße, 世界"), Variant::R8(0.25)})
                  .hr,
              S_OK);
    g.Advise(g.sink->dataTimeFormat);
    Advance(milliseconds(1000));

    auto streams = g.Data(g.sink->dataTimeFormat);
    ASSERT_FALSE(streams.empty()) << "no stream within one update period";
    const StreamDelivery& first = *streams.front();
    EXPECT_TRUE(first.timed);
    EXPECT_EQ(first.group, kGroupClient);
    EXPECT_HR(first.status, S_OK);
    EXPECT_EQ(first.itemCount, 5u);
    ASSERT_EQ(first.items.size(), 5u);
    EXPECT_EQ(ClientsOf(first), (std::set<OPCHANDLE>{1, 2, 3, 4, 5}));
    for (const DeliveredItem& item : first.items) {
        EXPECT_EQ(item.quality, OPC_QUALITY_GOOD);
        EXPECT_GE(SimSeconds(item.time), 0.0);
    }
    EXPECT_EQ(first.Find(1)->value.Type(), VT_I4);
    EXPECT_EQ(NumberOf(first.Find(1)->value.Get()), 0.0);
    EXPECT_EQ(TextOf(first.Find(2)->value.Get()), "Grüße, 世界");
    const DeliveredItem* ramp = first.Find(3);
    EXPECT_NEAR(NumberOf(ramp->value.Get()).value_or(-1), RampAt(SimSeconds(ramp->time)), 1e-6);
    const std::optional<std::string> word = TextOf(first.Find(4)->value.Get());
    ASSERT_TRUE(word);
    EXPECT_NE(std::find(TextCycle().begin(), TextCycle().end(), *word), TextCycle().end());
    EXPECT_EQ(first.Find(5)->value.Type(), VT_R4);
    EXPECT_EQ(NumberOf(first.Find(5)->value.Get()), 0.25);

    // Later streams carry only the changes.
    g.sink->Clear();
    ASSERT_HR(SyncWrite(g.group.object.Get(), {g.handles[1]}, {Variant::Text("")}).hr, S_OK);
    Advance(milliseconds(1000));
    streams = g.Data(g.sink->dataTimeFormat);
    ASSERT_FALSE(streams.empty());
    const std::set<OPCHANDLE> changed = ClientsOf(*streams.front());
    EXPECT_TRUE(changed.contains(2));
    EXPECT_TRUE(changed.contains(3));
    EXPECT_FALSE(changed.contains(1));
    EXPECT_FALSE(changed.contains(5));
    EXPECT_EQ(TextOf(streams.front()->Find(2)->value.Get()), "");
    EXPECT_TRUE(g.sink->problems.empty()) << g.sink->problems.front();
}

TEST_P(DataStreams, UntimedStreamHasShortHeaders) {
    StreamGroup g = MakeGroup(Server(), {{.id = "Static.Int16", .client = 7},
                                         {.id = "Signals.Counter", .client = 8},
                                         {.id = "Static.String", .client = 9}});
    g.Advise(g.sink->dataFormat);
    g.Advise(g.sink->dataTimeFormat);
    Advance(milliseconds(2000));

    const auto untimed = g.Data(g.sink->dataFormat);
    const auto timed = g.Data(g.sink->dataTimeFormat);
    ASSERT_FALSE(untimed.empty());
    EXPECT_EQ(untimed.size(), timed.size()) << "each update gives one stream per format";
    const StreamDelivery& first = *untimed.front();
    EXPECT_FALSE(first.timed);
    EXPECT_EQ(first.group, kGroupClient);
    EXPECT_HR(first.status, S_OK);
    ASSERT_EQ(first.items.size(), 3u);
    EXPECT_EQ(first.Find(7)->value.Type(), VT_I2);
    EXPECT_EQ(first.Find(8)->value.Type(), VT_UI4);
    EXPECT_EQ(TextOf(first.Find(9)->value.Get()), "");
    // The same update in both formats carries the same values.
    ASSERT_NE(timed.front()->Find(8), nullptr);
    EXPECT_EQ(NumberOf(first.Find(8)->value.Get()), NumberOf(timed.front()->Find(8)->value.Get()));
    EXPECT_TRUE(g.sink->problems.empty()) << g.sink->problems.front();
}

TEST_P(DataStreams, AsyncWriteAnswersOnTheWriteCompleteStream) {
    StreamGroup g = MakeGroup(Server(), {{.id = "Static.Int32", .client = 21},
                                         {.id = "Static.String", .client = 22},
                                         {.id = "Access.ReadOnly", .client = 23}});
    const DWORD data = g.Advise(g.sink->dataTimeFormat);
    const DWORD done = g.Advise(g.sink->writeCompleteFormat);
    EXPECT_NE(data, done);
    ComPtr<IOPCAsyncIO> io = Query<IOPCAsyncIO>(g.group.object);
    ASSERT_TRUE(io);

    const Variant number = Variant::I4(12);
    const Variant text = Variant::Text("written");
    const std::vector<VARIANT> values = {number.Get(), text.Get()};
    DWORD transaction = 0;
    const ErrorsOutcome written =
        StreamWrite(*io, done, {g.handles[0], g.handles[1]}, values, &transaction);
    ASSERT_HR(written.hr, S_OK);
    EXPECT_NE(transaction, 0u);
    Advance(milliseconds(0));

    const auto completions = g.sink->OfFormat(g.sink->writeCompleteFormat);
    ASSERT_EQ(completions.size(), 1u);
    const StreamDelivery& c = *completions[0];
    EXPECT_EQ(c.transactionId, transaction);
    EXPECT_EQ(c.group, kGroupClient);
    EXPECT_HR(c.status, S_OK);
    EXPECT_EQ(c.itemCount, 2u);
    ASSERT_EQ(c.items.size(), 2u);
    EXPECT_EQ(ClientsOf(c), (std::set<OPCHANDLE>{21, 22}));
    for (const DeliveredItem& item : c.items) {
        EXPECT_HR(item.error, S_OK);
    }
    EXPECT_EQ(NumberOf(ReadOne(g.group.object.Get(), g.handles[0]).value.Get()), 12.0);
    EXPECT_EQ(TextOf(ReadOne(g.group.object.Get(), g.handles[1]).value.Get()), "written");

    // A read-only item is refused at once; a connection that is not a write-complete one is no
    // place for an answer.
    const ErrorsOutcome refused = StreamWrite(*io, done, {g.handles[2]}, {values[0]}, &transaction);
    EXPECT_HR(refused.hr, S_FALSE);
    EXPECT_HRS(refused.errors, OPC_E_BADRIGHTS);
    for (const DWORD wrong : {data, done + data + 100}) {
        const HRESULT hr = StreamWrite(*io, wrong, {g.handles[0]}, {values[0]}, &transaction).hr;
        EXPECT_TRUE(FAILED(hr)) << "connection " << wrong << ": " << HrText(hr);
    }
    EXPECT_TRUE(g.sink->problems.empty()) << g.sink->problems.front();
}

TEST_P(DataStreams, AsyncReadAndRefreshAnswerOnTheDataStream) {
    StreamGroup g = MakeGroup(Server(), {{.id = "Static.Int32", .client = 31},
                                         {.id = "Signals.Ramp", .client = 32},
                                         {.id = "Static.Int16", .client = 33, .active = false}});
    const DWORD connection = g.Advise(g.sink->dataTimeFormat);
    Advance(milliseconds(1500));
    g.sink->Clear();
    ComPtr<IOPCAsyncIO> io = Query<IOPCAsyncIO>(g.group.object);
    ASSERT_TRUE(io);

    DWORD readTransaction = 0;
    const ErrorsOutcome read =
        StreamRead(*io, connection, {g.handles[0], g.handles[1]}, &readTransaction);
    ASSERT_HR(read.hr, S_OK);
    EXPECT_NE(readTransaction, 0u);
    DWORD refreshTransaction = 0;
    ASSERT_HR(io->Refresh(connection, OPC_DS_CACHE, &refreshTransaction), S_OK);
    EXPECT_NE(refreshTransaction, 0u);
    EXPECT_NE(refreshTransaction, readTransaction);
    Advance(milliseconds(0));

    const auto reads = g.Data(g.sink->dataTimeFormat, readTransaction);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(ClientsOf(*reads[0]), (std::set<OPCHANDLE>{31, 32}));
    const auto refreshes = g.Data(g.sink->dataTimeFormat, refreshTransaction);
    ASSERT_EQ(refreshes.size(), 1u);
    EXPECT_EQ(ClientsOf(*refreshes[0]), (std::set<OPCHANDLE>{31, 32}))
        << "a refresh sends every active item and no inactive one";
    EXPECT_TRUE(g.sink->problems.empty()) << g.sink->problems.front();
}

TEST_P(DataStreams, AdviseAcceptsOnlyTheStreamFormatsInGlobalMemory) {
    StreamGroup g = MakeGroup(Server(), {{.id = "Signals.Ramp", .client = 41}});
    DWORD connection = 0;
    FORMATETC other = StreamFormat(static_cast<CLIPFORMAT>(
        RegisterClipboardFormatA("Tagvista conformance: not a stream format")));
    EXPECT_HR(g.data->DAdvise(&other, ADVF_PRIMEFIRST, g.sink.Get(), &connection), DV_E_FORMATETC);
    FORMATETC inStream = StreamFormat(g.sink->dataTimeFormat, TYMED_ISTREAM);
    EXPECT_TRUE(FAILED(g.data->DAdvise(&inStream, ADVF_PRIMEFIRST, g.sink.Get(), &connection)));
    FORMATETC good = StreamFormat(g.sink->dataTimeFormat);
    EXPECT_TRUE(FAILED(g.data->DAdvise(&good, ADVF_PRIMEFIRST, nullptr, &connection)));

    connection = g.Advise(g.sink->dataTimeFormat);
    Advance(milliseconds(2000));
    EXPECT_FALSE(g.sink->received.empty());
    EXPECT_HR(g.data->DUnadvise(connection), S_OK);
    g.sink->Clear();
    Advance(milliseconds(3000));
    EXPECT_TRUE(g.sink->received.empty()) << "streams after DUnadvise";
    EXPECT_HR(g.data->DUnadvise(connection), OLE_E_NOCONNECTION);
    EXPECT_TRUE(g.sink->problems.empty()) << g.sink->problems.front();
}

}  // namespace
