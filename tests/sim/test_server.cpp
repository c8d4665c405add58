// The server object: its interfaces, status and error texts.

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "conformance.h"
#include "hr_check.h"
#include "sinks.h"

namespace {

using namespace conformance;

CONFORMANCE_SUITE(ServerObject);

TEST_P(ServerObject, AnswersItsInterfacesWithOneIdentity) {
    ComPtr<IUnknown> unknown = Harness().CreateServer();
    ASSERT_TRUE(unknown);
    IUnknown* const identity = Identity(unknown.Get());
    EXPECT_EQ(identity, unknown.Get()) << "the created object is not the server's IUnknown";

    ComPtr<IOPCServer> server = Query<IOPCServer>(unknown);
    ComPtr<IOPCBrowseServerAddressSpace> browse = Query<IOPCBrowseServerAddressSpace>(unknown);
    ASSERT_TRUE(server);
    ASSERT_TRUE(browse);
    EXPECT_EQ(Identity(server.Get()), identity);
    EXPECT_EQ(Identity(browse.Get()), identity);
    // Every interface of the object reaches every other.
    EXPECT_TRUE(Query<IOPCServer>(browse));
    EXPECT_TRUE(Query<IOPCBrowseServerAddressSpace>(server));

    // A group interface is not the server's.
    void* out = &out;
    EXPECT_HR(unknown->QueryInterface(IID_IOPCItemMgt, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    out = &out;
    EXPECT_HR(server->QueryInterface(IID_IAdviseSink, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_HR(server->QueryInterface(IID_IOPCServer, nullptr), E_POINTER);
}

TEST_P(ServerObject, StatusTellsStateGroupCountAndTime) {
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_HR(Server().GetStatus(&status), S_OK);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->dwServerState, OPC_STATUS_RUNNING);
    EXPECT_EQ(status->dwGroupCount, 0u);
    const std::uint64_t started = Ticks(status->ftStartTime);
    const std::uint64_t firstNow = Ticks(status->ftCurrentTime);
    EXPECT_GE(firstNow, started);
    EXPECT_FALSE(TakeTaskString(status->szVendorInfo, "szVendorInfo").empty());
    ExpectTaskMemoryAndFree(status, "the status block");

    AddedGroup a = MustAddGroup({.name = "A"});
    AddedGroup b = MustAddGroup({.name = "B"});
    Subscription subscription(a.object.Get());
    ASSERT_HR(subscription.hr, S_OK);
    ASSERT_HR(AddItems(a.object.Get(), {{.id = "Signals.Ramp", .client = 1}}).hr, S_OK);
    Advance(milliseconds(1500));

    status = nullptr;
    ASSERT_HR(Server().GetStatus(&status), S_OK);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->dwGroupCount, 2u);
    EXPECT_EQ(Ticks(status->ftStartTime), started);
    const std::uint64_t now = Ticks(status->ftCurrentTime);
    EXPECT_GE(now - firstNow, 1500 * kTicksPerMs) << "the server's clock did not move";
    // The last update sent to this client lies between the start and now.
    const auto changes = subscription.sink->OfKind(CallbackDelivery::Kind::DataChange);
    ASSERT_FALSE(changes.empty());
    const std::uint64_t lastUpdate = Ticks(status->ftLastUpdateTime);
    EXPECT_GE(lastUpdate, Ticks(changes.front()->items.at(0).time));
    EXPECT_LE(lastUpdate, now);
    TakeTaskString(status->szVendorInfo, "szVendorInfo");
    ExpectTaskMemoryAndFree(status, "the status block");
}

TEST_P(ServerObject, ErrorStringsDescribeTheOpcCodes) {
    const std::vector<HRESULT> codes = {
        OPC_E_INVALIDHANDLE, OPC_E_BADTYPE,       OPC_E_PUBLIC,          OPC_E_BADRIGHTS,
        OPC_E_UNKNOWNITEMID, OPC_E_INVALIDITEMID, OPC_E_INVALIDFILTER,   OPC_E_UNKNOWNPATH,
        OPC_E_RANGE,         OPC_E_DUPLICATENAME, OPC_S_UNSUPPORTEDRATE, OPC_S_CLAMP,
        OPC_S_INUSE};
    std::set<std::string> texts;
    for (const HRESULT code : codes) {
        LPWSTR text = nullptr;
        EXPECT_HR(Server().GetErrorString(code, 0x409, &text), S_OK) << HrText(code);
        const std::string utf8 = TakeTaskString(text, "an error string");
        EXPECT_FALSE(utf8.empty()) << HrText(code);
        texts.insert(utf8);
    }
    EXPECT_EQ(texts.size(), codes.size()) << "two codes share one text";

    // A code in the OPC range that means nothing.
    LPWSTR text = nullptr;
    const HRESULT hr = Server().GetErrorString(MAKE_HRESULT_VALUE(0xC004FFFF), 0x409, &text);
    EXPECT_HR(hr, E_INVALIDARG);
    if (SUCCEEDED(hr)) {
        TakeTaskString(text, "an error string");
    }
}

TEST_P(ServerObject, CommonInterfaceKeepsLocaleAndClientName) {
    ComPtr<IOPCCommon> common = Query<IOPCCommon>(ServerUnknown());
    ASSERT_TRUE(common) << "a 2.0 server answers IOPCCommon";
    DWORD count = 0;
    LCID* locales = nullptr;
    ASSERT_HR(common->QueryAvailableLocaleIDs(&count, &locales), S_OK);
    ASSERT_GE(count, 1u);
    ASSERT_NE(locales, nullptr);
    const std::vector<LCID> available(locales, locales + count);
    ExpectTaskMemoryAndFree(locales, "the locale array");

    for (const LCID lcid : available) {
        EXPECT_HR(common->SetLocaleID(lcid), S_OK);
        LCID current = 0;
        EXPECT_HR(common->GetLocaleID(&current), S_OK);
        EXPECT_EQ(current, lcid);
    }
    // A locale the server does not offer is refused and changes nothing.
    LCID unknown = 0x7FFF;
    while (std::find(available.begin(), available.end(), unknown) != available.end()) {
        --unknown;
    }
    EXPECT_HR(common->SetLocaleID(unknown), E_INVALIDARG);
    LCID current = 0;
    EXPECT_HR(common->GetLocaleID(&current), S_OK);
    EXPECT_EQ(current, available.back());

    LPWSTR text = nullptr;
    EXPECT_HR(common->GetErrorString(OPC_E_BADRIGHTS, &text), S_OK);
    EXPECT_FALSE(TakeTaskString(text, "an error string").empty());
    EXPECT_HR(common->SetClientName(u"Conformance suite"), S_OK);
}

// ---- Groups ----------------------------------------------------------------------------------

CONFORMANCE_SUITE(GroupLifecycle);

// The revised rate and the result of a call that requested rate must agree.
void ExpectRevision(HRESULT hr, DWORD requested, DWORD revised) {
    EXPECT_GT(revised, 0u) << "requested " << requested;
    EXPECT_HR(hr, revised == requested ? S_OK : OPC_S_UNSUPPORTEDRATE)
        << "requested " << requested << ", revised " << revised;
}

TEST_P(GroupLifecycle, AddGroupKeepsTheStateItWasGiven) {
    AddedGroup g = MustAddGroup({.name = "Fast",
                                 .active = false,
                                 .rate = 1000,
                                 .clientHandle = 0x1234,
                                 .timeBias = 60,
                                 .deadband = 12.5f,
                                 .lcid = 0x407});
    ExpectRevision(g.hr, 1000, g.revisedRate);
    const GroupState state = GetState(g.object.Get());
    ASSERT_HR(state.hr, S_OK);
    EXPECT_EQ(state.name, "Fast");
    EXPECT_EQ(state.active, FALSE);
    EXPECT_EQ(state.rate, g.revisedRate);
    EXPECT_EQ(state.clientHandle, 0x1234u);
    EXPECT_EQ(state.serverHandle, g.serverHandle);
    EXPECT_EQ(state.timeBias, 60);
    EXPECT_FLOAT_EQ(state.deadband, 12.5f);
    EXPECT_EQ(state.lcid, 0x407u);

    // Whatever rate is asked for, the answer names the rate the group runs at.
    for (const DWORD requested : {0u, 1u, 1005u, 0xFFFFFFFFu}) {
        AddedGroup other =
            MustAddGroup({.name = "Rate" + std::to_string(requested), .rate = requested});
        ExpectRevision(other.hr, requested, other.revisedRate);
        EXPECT_EQ(GetState(other.object.Get()).rate, other.revisedRate);
        EXPECT_NE(other.serverHandle, g.serverHandle);
    }
}

TEST_P(GroupLifecycle, GroupAnswersEveryGroupInterface) {
    AddedGroup g = MustAddGroup({.name = "G"});
    ASSERT_TRUE(g.object);
    IUnknown* const identity = Identity(g.object.Get());
    ASSERT_NE(identity, nullptr);
    const auto expectInterface = [&](const IID& iid, const char* name) {
        void* out = nullptr;
        EXPECT_HR(g.object->QueryInterface(iid, &out), S_OK) << name;
        if (out != nullptr) {
            auto* unknown = static_cast<IUnknown*>(out);
            EXPECT_EQ(Identity(unknown), identity) << name;
            unknown->Release();
        }
    };
    expectInterface(IID_IOPCGroupStateMgt, "IOPCGroupStateMgt");
    expectInterface(IID_IOPCItemMgt, "IOPCItemMgt");
    expectInterface(IID_IOPCSyncIO, "IOPCSyncIO");
    expectInterface(IID_IOPCAsyncIO2, "IOPCAsyncIO2");
    expectInterface(IID_IOPCAsyncIO, "IOPCAsyncIO");
    expectInterface(IID_IConnectionPointContainer, "IConnectionPointContainer");
    expectInterface(IID_IDataObject, "IDataObject");
    void* out = &out;
    EXPECT_HR(g.object->QueryInterface(IID_IOPCServer, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    // The group comes as the interface asked for.
    AddedGroup typed = MustAddGroup({.name = "Typed", .riid = IID_IOPCItemMgt});
    ASSERT_TRUE(typed.object);
    auto* const items = static_cast<IOPCItemMgt*>(static_cast<void*>(typed.object.Get()));
    IUnknown* enumerator = nullptr;
    EXPECT_HR(items->CreateEnumerator(IID_IEnumOPCItemAttributes, &enumerator), S_FALSE);
    EXPECT_EQ(enumerator, nullptr);

    // An interface the group lacks: no group is made, and its name stays free.
    AddedGroup refused = AddGroup(Server(), {.name = "NoSuch", .riid = IID_IOPCServer});
    EXPECT_HR(refused.hr, E_NOINTERFACE);
    IUnknown* found = nullptr;
    EXPECT_TRUE(FAILED(Server().GetGroupByName(u"NoSuch", IID_IUnknown, &found)));
    EXPECT_EQ(found, nullptr);
    EXPECT_HR(MustAddGroup({.name = "NoSuch"}).hr, S_OK);
}

TEST_P(GroupLifecycle, NamesAreUniqueAndEmptyNamesAreGenerated) {
    AddedGroup a = MustAddGroup({.name = "A"});
    AddedGroup again = AddGroup(Server(), {.name = "A"});
    EXPECT_HR(again.hr, OPC_E_DUPLICATENAME);
    EXPECT_FALSE(again.object);

    AddedGroup first = MustAddGroup({.name = ""});
    AddedGroup second = MustAddGroup({.name = ""});
    const std::string firstName = GetState(first.object.Get()).name;
    const std::string secondName = GetState(second.object.Get()).name;
    EXPECT_FALSE(firstName.empty());
    EXPECT_FALSE(secondName.empty());
    EXPECT_NE(firstName, secondName);
    EXPECT_NE(firstName, "A");
    EXPECT_NE(secondName, "A");
    // A generated name is a name like any other.
    EXPECT_HR(AddGroup(Server(), {.name = firstName}).hr, OPC_E_DUPLICATENAME);

    std::set<OPCHANDLE> handles = {a.serverHandle, first.serverHandle, second.serverHandle};
    EXPECT_EQ(handles.size(), 3u);
}

TEST_P(GroupLifecycle, DeadbandOutsidePercentIsRefused) {
    for (const float bad : {-0.5f, 100.5f, 250.0f}) {
        AddedGroup g = AddGroup(Server(), {.name = "Bad", .deadband = bad});
        EXPECT_HR(g.hr, E_INVALIDARG) << bad;
    }
    AddedGroup low = MustAddGroup({.name = "Low", .deadband = 0.0f});
    AddedGroup high = MustAddGroup({.name = "High", .deadband = 100.0f});

    ComPtr<IOPCGroupStateMgt> state = Query<IOPCGroupStateMgt>(high.object);
    ASSERT_TRUE(state);
    FLOAT bad = 101.0f;
    EXPECT_HR(state->SetState(nullptr, nullptr, nullptr, nullptr, &bad, nullptr, nullptr),
              E_INVALIDARG);
    EXPECT_FLOAT_EQ(GetState(high.object.Get()).deadband, 100.0f);
}

TEST_P(GroupLifecycle, SetStateChangesWhatIsGivenAndNothingElse) {
    AddedGroup g = MustAddGroup({.name = "S", .active = true, .rate = 1000, .clientHandle = 5});
    ComPtr<IOPCGroupStateMgt> mgt = Query<IOPCGroupStateMgt>(g.object);
    ASSERT_TRUE(mgt);
    const GroupState before = GetState(g.object.Get());

    DWORD revised = 0;
    EXPECT_HR(mgt->SetState(nullptr, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(revised, before.rate) << "the revised rate reports the rate in force";
    const GroupState same = GetState(g.object.Get());
    EXPECT_EQ(same.rate, before.rate);
    EXPECT_EQ(same.active, before.active);
    EXPECT_EQ(same.clientHandle, before.clientHandle);
    EXPECT_EQ(same.lcid, before.lcid);

    DWORD rate = 2500;
    BOOL active = FALSE;
    LONG bias = -120;
    FLOAT deadband = 3.0f;
    DWORD lcid = 0x40C;
    OPCHANDLE client = 77;
    const HRESULT hr = mgt->SetState(&rate, &revised, &active, &bias, &deadband, &lcid, &client);
    ExpectRevision(hr, rate, revised);
    const GroupState after = GetState(g.object.Get());
    EXPECT_EQ(after.rate, revised);
    EXPECT_EQ(after.active, FALSE);
    EXPECT_EQ(after.timeBias, -120);
    EXPECT_FLOAT_EQ(after.deadband, 3.0f);
    EXPECT_EQ(after.lcid, 0x40Cu);
    EXPECT_EQ(after.clientHandle, 77u);
    EXPECT_EQ(after.serverHandle, g.serverHandle);
    EXPECT_EQ(after.name, "S");

    rate = 1;
    ExpectRevision(mgt->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), 1,
                   revised);
}

TEST_P(GroupLifecycle, SetNameRenamesAndKeepsNamesUnique) {
    AddedGroup one = MustAddGroup({.name = "One"});
    AddedGroup two = MustAddGroup({.name = "Two"});
    ComPtr<IOPCGroupStateMgt> mgt = Query<IOPCGroupStateMgt>(one.object);
    ASSERT_TRUE(mgt);

    EXPECT_HR(mgt->SetName(u"Three"), S_OK);
    EXPECT_EQ(GetState(one.object.Get()).name, "Three");
    IUnknown* found = nullptr;
    EXPECT_HR(Server().GetGroupByName(u"Three", IID_IUnknown, &found), S_OK);
    ComPtr<IUnknown> foundGroup = ComPtr<IUnknown>::Attach(found);
    EXPECT_EQ(Identity(found), Identity(one.object.Get()));
    found = nullptr;
    EXPECT_TRUE(FAILED(Server().GetGroupByName(u"One", IID_IUnknown, &found)));
    EXPECT_EQ(found, nullptr);
    // The old name is free again.
    EXPECT_HR(MustAddGroup({.name = "One"}).hr, S_OK);

    EXPECT_HR(mgt->SetName(u"Two"), OPC_E_DUPLICATENAME);
    EXPECT_TRUE(FAILED(mgt->SetName(u"")));
    EXPECT_EQ(GetState(one.object.Get()).name, "Three");
}

TEST_P(GroupLifecycle, GetGroupByNameHandsOutTheGroup) {
    AddedGroup g = MustAddGroup({.name = "Named"});
    IUnknown* found = nullptr;
    ASSERT_HR(Server().GetGroupByName(u"Named", IID_IOPCGroupStateMgt, &found), S_OK);
    ASSERT_NE(found, nullptr);
    ComPtr<IOPCGroupStateMgt> state = ComPtr<IOPCGroupStateMgt>::Attach(
        static_cast<IOPCGroupStateMgt*>(static_cast<void*>(found)));
    EXPECT_EQ(Identity(state.Get()), Identity(g.object.Get()));
    DWORD rate = 0;
    EXPECT_HR(state->GetState(&rate, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              S_OK);

    found = &*g.object;
    EXPECT_TRUE(FAILED(Server().GetGroupByName(u"Unnamed", IID_IUnknown, &found)));
    EXPECT_EQ(found, nullptr);
    found = &*g.object;
    EXPECT_HR(Server().GetGroupByName(u"Named", IID_IOPCServer, &found), E_NOINTERFACE);
    EXPECT_EQ(found, nullptr);
}

// Whether the server still knows a group by this name.
bool Knows(IOPCServer& server, const char16_t* name) {
    IUnknown* found = nullptr;
    const HRESULT hr = server.GetGroupByName(name, IID_IUnknown, &found);
    if (found != nullptr) {
        found->Release();
    }
    return SUCCEEDED(hr);
}

DWORD GroupCount(IOPCServer& server) {
    OPCSERVERSTATUS* status = nullptr;
    if (FAILED(server.GetStatus(&status)) || status == nullptr) {
        ADD_FAILURE() << "GetStatus failed";
        return 0;
    }
    const DWORD count = status->dwGroupCount;
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    return count;
}

TEST_P(GroupLifecycle, RemoveGroupOfAReleasedGroupRemovesIt) {
    AddedGroup g = MustAddGroup({.name = "Gone"});
    ASSERT_HR(AddItems(g.object.Get(), {{.id = "Static.Int32", .client = 1}}).hr, S_OK);
    g.object.Reset();
    // Released by the client, the group still lives in the server.
    EXPECT_TRUE(Knows(Server(), u"Gone"));

    EXPECT_HR(Server().RemoveGroup(g.serverHandle, FALSE), S_OK);
    EXPECT_FALSE(Knows(Server(), u"Gone"));
    EXPECT_EQ(GroupCount(Server()), 0u);
    const HRESULT again = Server().RemoveGroup(g.serverHandle, FALSE);
    EXPECT_TRUE(again == E_INVALIDARG || again == E_FAIL) << HrText(again);
    EXPECT_HR(MustAddGroup({.name = "Gone"}).hr, S_OK);

    for (const OPCHANDLE unknown : {0u, 0xDEADBEEFu}) {
        const HRESULT hr = Server().RemoveGroup(unknown, FALSE);
        EXPECT_TRUE(hr == E_INVALIDARG || hr == E_FAIL) << HrText(hr);
    }
}

TEST_P(GroupLifecycle, RemoveGroupStillReferencedIsInUseUntilReleased) {
    AddedGroup g = MustAddGroup({.name = "Held"});
    ASSERT_HR(AddItems(g.object.Get(), {{.id = "Signals.Ramp", .client = 1}}).hr, S_OK);
    // A second reference, as GetGroupByName hands it out.
    IUnknown* byName = nullptr;
    ASSERT_HR(Server().GetGroupByName(u"Held", IID_IOPCItemMgt, &byName), S_OK);
    ComPtr<IUnknown> second = ComPtr<IUnknown>::Attach(byName);

    EXPECT_HR(Server().RemoveGroup(g.serverHandle, FALSE), OPC_S_INUSE);
    g.object.Reset();
    // One client reference is left: still in use.
    second.Reset();
    EXPECT_FALSE(Knows(Server(), u"Held"));
    EXPECT_EQ(GroupCount(Server()), 0u);
    EXPECT_HR(MustAddGroup({.name = "Held"}).hr, S_OK);
    EXPECT_EQ(GroupCount(Server()), 1u);
}

TEST_P(GroupLifecycle, ForcedRemoveTakesAGroupStillReferenced) {
    AddedGroup g = MustAddGroup({.name = "Forced"});
    ComPtr<IOPCGroupStateMgt> mgt = Query<IOPCGroupStateMgt>(g.object);
    ASSERT_TRUE(mgt);
    const ItemOutcome added = AddItems(g.object.Get(), {{.id = "Signals.Ramp", .client = 1}});
    ASSERT_HR(added.hr, S_OK);
    Subscription subscription(g.object.Get());
    ASSERT_HR(subscription.hr, S_OK);
    ComPtr<IOPCAsyncIO2> io = Query<IOPCAsyncIO2>(g.object);
    ASSERT_TRUE(io);
    DWORD cancel = 0;
    HRESULT* errors = nullptr;
    OPCHANDLE handle = added.items[0].server;
    const HRESULT read = io->Read(1, &handle, 5, &cancel, &errors);
    TakeErrors(read, errors, 1, "IOPCAsyncIO2::Read");
    ASSERT_HR(read, S_OK);

    EXPECT_HR(Server().RemoveGroup(g.serverHandle, TRUE), S_OK);
    // A removed group calls no one: not for its updates, not for what was pending.
    Advance(milliseconds(2000));
    EXPECT_TRUE(subscription.sink->received.empty()) << "a removed group called back";
    EXPECT_FALSE(Knows(Server(), u"Forced"));
    EXPECT_EQ(GroupCount(Server()), 0u);
    // The interfaces the client still holds must not bring the server down.
    LPWSTR name = nullptr;
    DWORD rate = 0;
    if (SUCCEEDED(
            mgt->GetState(&rate, nullptr, &name, nullptr, nullptr, nullptr, nullptr, nullptr))) {
        TakeTaskString(name, "a group name");
    }
    EXPECT_TRUE(FAILED(Server().RemoveGroup(g.serverHandle, FALSE)));
}

std::vector<std::string> GroupNames(IOPCServer& server, OPCENUMSCOPE scope, HRESULT expected) {
    IUnknown* raw = nullptr;
    EXPECT_HR(server.CreateGroupEnumerator(scope, IID_IEnumString, &raw), expected);
    ComPtr<IUnknown> unknown = ComPtr<IUnknown>::Attach(raw);
    ComPtr<IEnumString> names = Query<IEnumString>(unknown);
    EXPECT_TRUE(names) << "no enumerator for scope " << scope;
    std::vector<std::string> out = DrainStrings(names.Get(), 3);
    std::sort(out.begin(), out.end());
    return out;
}

TEST_P(GroupLifecycle, GroupNamesBelongToTheirServerObject) {
    ComPtr<IOPCServer> other = NewServer();
    ASSERT_TRUE(other);
    AddedGroup mine = MustAddGroup({.name = "Shared"});
    AddedGroup theirs = AddGroup(*other, {.name = "Shared"});
    EXPECT_HR(theirs.hr, S_OK) << "another client's group name is taken";
    AddedGroup onlyTheirs = AddGroup(*other, {.name = "OnlyTheirs"});
    EXPECT_HR(onlyTheirs.hr, S_OK);
    EXPECT_NE(Identity(mine.object.Get()), Identity(theirs.object.Get()));
    EXPECT_FALSE(Knows(Server(), u"OnlyTheirs"));

    IUnknown* raw = nullptr;
    ASSERT_HR(Server().CreateGroupEnumerator(OPC_ENUM_PRIVATE_CONNECTIONS, IID_IEnumString, &raw),
              S_OK);
    ComPtr<IEnumString> names =
        ComPtr<IEnumString>::Attach(static_cast<IEnumString*>(static_cast<void*>(raw)));
    EXPECT_EQ(DrainStrings(names.Get()), std::vector<std::string>{"Shared"});
    // Removing mine leaves theirs.
    mine.object.Reset();
    EXPECT_HR(Server().RemoveGroup(mine.serverHandle, FALSE), S_OK);
    EXPECT_TRUE(Knows(*other, u"Shared"));
}

TEST_P(GroupLifecycle, ARemovedGroupLetsGoOfItsSinks) {
    AddedGroup g = MustAddGroup({.name = "Sinks"});
    ASSERT_HR(AddItems(g.object.Get(), {{.id = "Signals.Ramp", .client = 1}}).hr, S_OK);
    ComPtr<DataCallbackSink> callback = MakeComObject<DataCallbackSink>();
    ComPtr<StreamSink> stream = MakeComObject<StreamSink>();
    {
        ComPtr<IConnectionPointContainer> container = Query<IConnectionPointContainer>(g.object);
        ASSERT_TRUE(container);
        ComPtr<IConnectionPoint> point;
        ASSERT_HR(container->FindConnectionPoint(IID_IOPCDataCallback, point.Put()), S_OK);
        DWORD cookie = 0;
        ASSERT_HR(point->Advise(callback->GetUnknown(), &cookie), S_OK);
        ComPtr<IDataObject> data = Query<IDataObject>(g.object);
        ASSERT_TRUE(data);
        FORMATETC format = StreamFormat(stream->dataTimeFormat);
        DWORD connection = 0;
        ASSERT_HR(data->DAdvise(&format, ADVF_PRIMEFIRST, stream.Get(), &connection), S_OK);
    }
    Advance(milliseconds(1000));
    EXPECT_FALSE(callback->received.empty());
    EXPECT_FALSE(stream->received.empty());
    EXPECT_GT(callback->References(), 1u);
    EXPECT_GT(stream->References(), 1u);

    g.object.Reset();
    EXPECT_HR(Server().RemoveGroup(g.serverHandle, FALSE), S_OK);
    EXPECT_EQ(callback->References(), 1u) << "the removed group still holds the data callback";
    EXPECT_EQ(stream->References(), 1u) << "the removed group still holds the advise sink";
    callback->Clear();
    stream->Clear();
    Advance(milliseconds(2000));
    EXPECT_TRUE(callback->received.empty());
    EXPECT_TRUE(stream->received.empty());
}

TEST_P(GroupLifecycle, GroupEnumeratorsListNamesAndObjects) {
    // An empty scope still gives an (empty) enumerator.
    EXPECT_TRUE(GroupNames(Server(), OPC_ENUM_PRIVATE_CONNECTIONS, S_FALSE).empty());

    AddedGroup a = MustAddGroup({.name = "Alpha"});
    AddedGroup b = MustAddGroup({.name = "Beta", .active = false});
    const std::vector<std::string> both = {"Alpha", "Beta"};
    EXPECT_EQ(GroupNames(Server(), OPC_ENUM_PRIVATE_CONNECTIONS, S_OK), both);
    EXPECT_EQ(GroupNames(Server(), OPC_ENUM_ALL_CONNECTIONS, S_OK), both);
    EXPECT_EQ(GroupNames(Server(), OPC_ENUM_PRIVATE, S_OK), both);
    EXPECT_EQ(GroupNames(Server(), OPC_ENUM_ALL, S_OK), both);
    // These groups are private.
    EXPECT_TRUE(GroupNames(Server(), OPC_ENUM_PUBLIC_CONNECTIONS, S_FALSE).empty());

    IUnknown* raw = nullptr;
    ASSERT_HR(Server().CreateGroupEnumerator(OPC_ENUM_ALL_CONNECTIONS, IID_IEnumUnknown, &raw),
              S_OK);
    ComPtr<IEnumUnknown> objects =
        ComPtr<IEnumUnknown>::Attach(static_cast<IEnumUnknown*>(static_cast<void*>(raw)));
    IUnknown* fetched[4] = {};
    ULONG count = 0;
    EXPECT_HR(objects->Next(4, fetched, &count), S_FALSE);
    ASSERT_EQ(count, 2u);
    std::set<IUnknown*> identities;
    std::set<std::string> names;
    for (ULONG i = 0; i < count; ++i) {
        ComPtr<IUnknown> group = ComPtr<IUnknown>::Attach(fetched[i]);
        identities.insert(Identity(group.Get()));
        names.insert(GetState(group.Get()).name);
    }
    EXPECT_EQ(identities,
              (std::set<IUnknown*>{Identity(a.object.Get()), Identity(b.object.Get())}));
    EXPECT_EQ(names, (std::set<std::string>{"Alpha", "Beta"}));

    // The object enumerator keeps the enumerator rules too.
    EXPECT_HR(objects->Reset(), S_OK);
    EXPECT_HR(objects->Skip(1), S_OK);
    IEnumUnknown* cloneRaw = nullptr;
    ASSERT_HR(objects->Clone(&cloneRaw), S_OK);
    ComPtr<IEnumUnknown> clone = ComPtr<IEnumUnknown>::Attach(cloneRaw);
    IUnknown* last = nullptr;
    EXPECT_HR(clone->Next(1, &last, &count), S_OK);
    ComPtr<IUnknown> lastHeld = ComPtr<IUnknown>::Attach(last);
    EXPECT_TRUE(identities.contains(Identity(last)));
    EXPECT_HR(clone->Next(1, &last, &count), S_FALSE);
    EXPECT_EQ(count, 0u);
    EXPECT_HR(objects->Skip(5), S_FALSE);

    EXPECT_HR(Server().CreateGroupEnumerator(static_cast<OPCENUMSCOPE>(99), IID_IEnumString, &raw),
              E_INVALIDARG);
    raw = ServerUnknown();
    EXPECT_HR(Server().CreateGroupEnumerator(OPC_ENUM_ALL, IID_IOPCServer, &raw), E_NOINTERFACE);
    EXPECT_EQ(raw, nullptr);
}

TEST_P(GroupLifecycle, CloneGroupCopiesItemsAndStartsInactive) {
    AddedGroup original = MustAddGroup({.name = "Original", .rate = 2000, .clientHandle = 9});
    ASSERT_HR(
        AddItems(original.object.Get(), {{.id = "Signals.Ramp", .client = 1, .requested = VT_BSTR},
                                         {.id = "Static.Int32", .client = 2, .active = false}})
            .hr,
        S_OK);
    ComPtr<IOPCGroupStateMgt> mgt = Query<IOPCGroupStateMgt>(original.object);
    ASSERT_TRUE(mgt);

    IUnknown* raw = nullptr;
    ASSERT_HR(mgt->CloneGroup(u"Copy", IID_IOPCItemMgt, &raw), S_OK);
    ComPtr<IUnknown> copy = ComPtr<IUnknown>::Attach(raw);
    const GroupState state = GetState(copy.Get());
    EXPECT_EQ(state.name, "Copy");
    EXPECT_EQ(state.active, FALSE);
    EXPECT_EQ(state.rate, GetState(original.object.Get()).rate);
    EXPECT_EQ(state.clientHandle, 9u);
    EXPECT_NE(state.serverHandle, original.serverHandle);

    const ItemList originalItems = ListItems(original.object.Get());
    const ItemList copiedItems = ListItems(copy.Get());
    ASSERT_HR(copiedItems.hr, S_OK);
    ASSERT_EQ(copiedItems.items.size(), originalItems.items.size());
    for (const ItemAttributes& item : originalItems.items) {
        const auto same =
            std::find_if(copiedItems.items.begin(), copiedItems.items.end(),
                         [&](const ItemAttributes& c) { return c.client == item.client; });
        ASSERT_NE(same, copiedItems.items.end()) << item.id;
        EXPECT_EQ(same->id, item.id);
        EXPECT_EQ(same->active, item.active);
        EXPECT_EQ(same->requested, item.requested);
        EXPECT_EQ(same->canonical, item.canonical);
    }

    raw = nullptr;
    EXPECT_HR(mgt->CloneGroup(u"Original", IID_IUnknown, &raw), OPC_E_DUPLICATENAME);
    EXPECT_EQ(raw, nullptr);
    ASSERT_HR(mgt->CloneGroup(u"", IID_IUnknown, &raw), S_OK);
    ComPtr<IUnknown> unnamed = ComPtr<IUnknown>::Attach(raw);
    const std::string generated = GetState(unnamed.Get()).name;
    EXPECT_FALSE(generated.empty());
    EXPECT_NE(generated, "Original");
    EXPECT_NE(generated, "Copy");

    // The clone is a group of the server like any other.
    EXPECT_TRUE(Knows(Server(), u"Copy"));
    const OPCHANDLE copyHandle = state.serverHandle;
    copy.Reset();
    EXPECT_HR(Server().RemoveGroup(copyHandle, FALSE), S_OK);
    EXPECT_FALSE(Knows(Server(), u"Copy"));
}

}  // namespace
