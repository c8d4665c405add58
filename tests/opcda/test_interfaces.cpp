// Implementations of every interface through ComObject: if a method were missing, misspelt or
// of another signature, these classes would not compile (every method is marked override) or
// could not be instantiated (a pure virtual left). The calls below then go through each
// interface to the implementation, and the slot test pins the order of the methods.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "com/com_object.h"
#include "opcda/opcda.h"

namespace {

// Records which method ran.
class Calls {
  public:
    HRESULT Hit(const char* name) {
        names.emplace_back(name);
        return S_OK;
    }
    std::vector<std::string> names;
};

class FullServer final
    : public ComObject<IOPCServer, IOPCServerPublicGroups, IOPCBrowseServerAddressSpace,
                       IOPCItemProperties, IOPCCommon>,
      public Calls {
  public:
    HRESULT AddGroup(LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD, OPCHANDLE*, DWORD*,
                     REFIID, LPUNKNOWN*) override {
        return Hit("AddGroup");
    }
    HRESULT GetErrorString(HRESULT, LCID, LPWSTR*) override { return Hit("Server.GetErrorString"); }
    HRESULT GetGroupByName(LPCWSTR, REFIID, LPUNKNOWN*) override { return Hit("GetGroupByName"); }
    HRESULT GetStatus(OPCSERVERSTATUS**) override { return Hit("GetStatus"); }
    HRESULT RemoveGroup(OPCHANDLE, BOOL) override { return Hit("RemoveGroup"); }
    HRESULT CreateGroupEnumerator(OPCENUMSCOPE, REFIID, LPUNKNOWN*) override {
        return Hit("CreateGroupEnumerator");
    }

    HRESULT GetPublicGroupByName(LPCWSTR, REFIID, LPUNKNOWN*) override {
        return Hit("GetPublicGroupByName");
    }
    HRESULT RemovePublicGroup(OPCHANDLE, BOOL) override { return Hit("RemovePublicGroup"); }

    HRESULT QueryOrganization(OPCNAMESPACETYPE*) override { return Hit("QueryOrganization"); }
    HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION, LPCWSTR) override {
        return Hit("ChangeBrowsePosition");
    }
    HRESULT BrowseOPCItemIDs(OPCBROWSETYPE, LPCWSTR, VARTYPE, DWORD, LPENUMSTRING*) override {
        return Hit("BrowseOPCItemIDs");
    }
    HRESULT GetItemID(LPWSTR, LPWSTR*) override { return Hit("GetItemID"); }
    HRESULT BrowseAccessPaths(LPCWSTR, LPENUMSTRING*) override { return Hit("BrowseAccessPaths"); }

    HRESULT QueryAvailableProperties(LPWSTR, DWORD*, DWORD**, LPWSTR**, VARTYPE**) override {
        return Hit("QueryAvailableProperties");
    }
    HRESULT GetItemProperties(LPWSTR, DWORD, DWORD*, VARIANT**, HRESULT**) override {
        return Hit("GetItemProperties");
    }
    HRESULT LookupItemIDs(LPWSTR, DWORD, DWORD*, LPWSTR**, HRESULT**) override {
        return Hit("LookupItemIDs");
    }

    HRESULT SetLocaleID(LCID) override { return Hit("SetLocaleID"); }
    HRESULT GetLocaleID(LCID*) override { return Hit("GetLocaleID"); }
    HRESULT QueryAvailableLocaleIDs(DWORD*, LCID**) override {
        return Hit("QueryAvailableLocaleIDs");
    }
    HRESULT GetErrorString(HRESULT, LPWSTR*) override { return Hit("Common.GetErrorString"); }
    HRESULT SetClientName(LPCWSTR) override { return Hit("SetClientName"); }
};

class FullGroup final : public ComObject<IOPCGroupStateMgt, IOPCPublicGroupStateMgt, IOPCSyncIO,
                                         IOPCAsyncIO, IOPCItemMgt, IOPCAsyncIO2>,
                        public Calls {
  public:
    HRESULT GetState(DWORD*, BOOL*, LPWSTR*, LONG*, FLOAT*, DWORD*, OPCHANDLE*,
                     OPCHANDLE*) override {
        return Hit("StateMgt.GetState");
    }
    HRESULT SetState(DWORD*, DWORD*, BOOL*, LONG*, FLOAT*, DWORD*, OPCHANDLE*) override {
        return Hit("SetState");
    }
    HRESULT SetName(LPCWSTR) override { return Hit("SetName"); }
    HRESULT CloneGroup(LPCWSTR, REFIID, LPUNKNOWN*) override { return Hit("CloneGroup"); }

    HRESULT GetState(BOOL*) override { return Hit("Public.GetState"); }
    HRESULT MoveToPublic() override { return Hit("MoveToPublic"); }

    HRESULT Read(OPCDATASOURCE, DWORD, OPCHANDLE*, OPCITEMSTATE**, HRESULT**) override {
        return Hit("SyncIO.Read");
    }
    HRESULT Write(DWORD, OPCHANDLE*, VARIANT*, HRESULT**) override { return Hit("SyncIO.Write"); }

    HRESULT Read(DWORD, OPCDATASOURCE, DWORD, OPCHANDLE*, DWORD*, HRESULT**) override {
        return Hit("AsyncIO.Read");
    }
    HRESULT Write(DWORD, DWORD, OPCHANDLE*, VARIANT*, DWORD*, HRESULT**) override {
        return Hit("AsyncIO.Write");
    }
    HRESULT Refresh(DWORD, OPCDATASOURCE, DWORD*) override { return Hit("Refresh"); }
    HRESULT Cancel(DWORD) override { return Hit("Cancel"); }

    HRESULT AddItems(DWORD, OPCITEMDEF*, OPCITEMRESULT**, HRESULT**) override {
        return Hit("AddItems");
    }
    HRESULT ValidateItems(DWORD, OPCITEMDEF*, BOOL, OPCITEMRESULT**, HRESULT**) override {
        return Hit("ValidateItems");
    }
    HRESULT RemoveItems(DWORD, OPCHANDLE*, HRESULT**) override { return Hit("RemoveItems"); }
    HRESULT SetActiveState(DWORD, OPCHANDLE*, BOOL, HRESULT**) override {
        return Hit("SetActiveState");
    }
    HRESULT SetClientHandles(DWORD, OPCHANDLE*, OPCHANDLE*, HRESULT**) override {
        return Hit("SetClientHandles");
    }
    HRESULT SetDatatypes(DWORD, OPCHANDLE*, VARTYPE*, HRESULT**) override {
        return Hit("SetDatatypes");
    }
    HRESULT CreateEnumerator(REFIID, LPUNKNOWN*) override { return Hit("CreateEnumerator"); }

    HRESULT Read(DWORD, OPCHANDLE*, DWORD, DWORD*, HRESULT**) override {
        return Hit("AsyncIO2.Read");
    }
    HRESULT Write(DWORD, OPCHANDLE*, VARIANT*, DWORD, DWORD*, HRESULT**) override {
        return Hit("AsyncIO2.Write");
    }
    HRESULT Refresh2(OPCDATASOURCE, DWORD, DWORD*) override { return Hit("Refresh2"); }
    HRESULT Cancel2(DWORD) override { return Hit("Cancel2"); }
    HRESULT SetEnable(BOOL) override { return Hit("SetEnable"); }
    HRESULT GetEnable(BOOL*) override { return Hit("GetEnable"); }
};

class FullItemEnum final : public ComObject<IEnumOPCItemAttributes>, public Calls {
  public:
    HRESULT Next(ULONG, OPCITEMATTRIBUTES**, ULONG*) override { return Hit("Next"); }
    HRESULT Skip(ULONG) override { return Hit("Skip"); }
    HRESULT Reset() override { return Hit("Reset"); }
    HRESULT Clone(IEnumOPCItemAttributes**) override { return Hit("Clone"); }
};

class FullClientSink final : public ComObject<IOPCDataCallback, IOPCShutdown>, public Calls {
  public:
    HRESULT OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                         FILETIME*, HRESULT*) override {
        return Hit("OnDataChange");
    }
    HRESULT OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                           FILETIME*, HRESULT*) override {
        return Hit("OnReadComplete");
    }
    HRESULT OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override {
        return Hit("OnWriteComplete");
    }
    HRESULT OnCancelComplete(DWORD, OPCHANDLE) override { return Hit("OnCancelComplete"); }
    HRESULT ShutdownRequest(LPCWSTR) override { return Hit("ShutdownRequest"); }
};

template <class I, class Object>
ComPtr<I> Query(const ComPtr<Object>& object) {
    ComPtr<I> out;
    EXPECT_EQ(object.As(out), S_OK);
    return out;
}

}  // namespace

TEST(OpcInterfaces, ServerObjectAnswersEachInterfaceAndDispatchesToIt) {
    const ComPtr<FullServer> server = MakeComObject<FullServer>();
    ASSERT_TRUE(server);

    EXPECT_EQ(Query<IOPCServer>(server)->RemoveGroup(1, FALSE), S_OK);
    EXPECT_EQ(Query<IOPCServerPublicGroups>(server)->RemovePublicGroup(1, FALSE), S_OK);
    EXPECT_EQ(Query<IOPCBrowseServerAddressSpace>(server)->ChangeBrowsePosition(OPC_BROWSE_UP, u""),
              S_OK);
    EXPECT_EQ(
        Query<IOPCItemProperties>(server)->LookupItemIDs(nullptr, 0, nullptr, nullptr, nullptr),
        S_OK);
    EXPECT_EQ(Query<IOPCServer>(server)->GetErrorString(E_FAIL, 0, nullptr), S_OK);
    EXPECT_EQ(Query<IOPCCommon>(server)->GetErrorString(E_FAIL, nullptr), S_OK);
    EXPECT_EQ(server->names,
              (std::vector<std::string>{"RemoveGroup", "RemovePublicGroup", "ChangeBrowsePosition",
                                        "LookupItemIDs", "Server.GetErrorString",
                                        "Common.GetErrorString"}));

    // The group's interfaces are not the server's.
    ComPtr<IOPCItemMgt> none;
    EXPECT_EQ(server.As(none), E_NOINTERFACE);
    EXPECT_FALSE(none);
}

TEST(OpcInterfaces, GroupObjectKeepsLikeNamedMethodsApart) {
    const ComPtr<FullGroup> group = MakeComObject<FullGroup>();
    ASSERT_TRUE(group);

    EXPECT_EQ(Query<IOPCGroupStateMgt>(group)->SetName(u"G"), S_OK);
    EXPECT_EQ(Query<IOPCGroupStateMgt>(group)->GetState(nullptr, nullptr, nullptr, nullptr, nullptr,
                                                        nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(Query<IOPCPublicGroupStateMgt>(group)->GetState(nullptr), S_OK);
    EXPECT_EQ(Query<IOPCSyncIO>(group)->Write(0, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(Query<IOPCAsyncIO>(group)->Write(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(Query<IOPCAsyncIO2>(group)->Write(0, nullptr, nullptr, 4112, nullptr, nullptr), S_OK);
    EXPECT_EQ(Query<IOPCItemMgt>(group)->RemoveItems(0, nullptr, nullptr), S_OK);
    EXPECT_EQ(group->names, (std::vector<std::string>{
                                "SetName", "StateMgt.GetState", "Public.GetState", "SyncIO.Write",
                                "AsyncIO.Write", "AsyncIO2.Write", "RemoveItems"}));

    // One identity whichever interface asks.
    const ComPtr<IUnknown> a = Query<IUnknown>(Query<IOPCSyncIO>(group));
    const ComPtr<IUnknown> b = Query<IUnknown>(Query<IOPCAsyncIO2>(group));
    EXPECT_EQ(a.Get(), b.Get());
}

TEST(OpcInterfaces, EnumeratorAndClientSinks) {
    const ComPtr<FullItemEnum> items = MakeComObject<FullItemEnum>();
    EXPECT_EQ(Query<IEnumOPCItemAttributes>(items)->Skip(2), S_OK);
    EXPECT_EQ(items->names, std::vector<std::string>{"Skip"});

    const ComPtr<FullClientSink> sink = MakeComObject<FullClientSink>();
    EXPECT_EQ(Query<IOPCDataCallback>(sink)->OnCancelComplete(1, 2), S_OK);
    EXPECT_EQ(Query<IOPCShutdown>(sink)->ShutdownRequest(u"bye"), S_OK);
    EXPECT_EQ(sink->names, (std::vector<std::string>{"OnCancelComplete", "ShutdownRequest"}));
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__))
namespace {

// The vtable slot of a virtual member function under the Itanium C++ ABI: the pointer to
// member holds the slot's byte offset (plus one on x86; on ARM the virtual flag is in the
// adjustment instead).
template <class F>
std::ptrdiff_t Slot(F pmf) {
    struct Representation {
        std::ptrdiff_t ptr;
        std::ptrdiff_t adj;
    };
    static_assert(sizeof(F) == sizeof(Representation));
    Representation rep;
    std::memcpy(&rep, &pmf, sizeof rep);
#if defined(__aarch64__)
    EXPECT_EQ(rep.adj & 1, 1) << "not a virtual function";
    return rep.ptr / static_cast<std::ptrdiff_t>(sizeof(void*));
#else
    EXPECT_EQ(rep.ptr & 1, 1) << "not a virtual function";
    return (rep.ptr - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
#endif
}

// The slots of the listed methods, which must follow the three of IUnknown in this order.
void ExpectOrder(std::initializer_list<std::ptrdiff_t> slots, const char* name) {
    std::ptrdiff_t expected = 3;
    for (const std::ptrdiff_t slot : slots) {
        EXPECT_EQ(slot, expected) << name << ", method " << expected - 3;
        ++expected;
    }
}

}  // namespace

TEST(OpcInterfaces, MethodsSitInTheSlotsOfTheStandard) {
    EXPECT_EQ(Slot(&IUnknown::QueryInterface), 0);
    EXPECT_EQ(Slot(&IUnknown::Release), 2);

    ExpectOrder({Slot(&IOPCServer::AddGroup), Slot(&IOPCServer::GetErrorString),
                 Slot(&IOPCServer::GetGroupByName), Slot(&IOPCServer::GetStatus),
                 Slot(&IOPCServer::RemoveGroup), Slot(&IOPCServer::CreateGroupEnumerator)},
                "IOPCServer");
    ExpectOrder({Slot(&IOPCServerPublicGroups::GetPublicGroupByName),
                 Slot(&IOPCServerPublicGroups::RemovePublicGroup)},
                "IOPCServerPublicGroups");
    ExpectOrder({Slot(&IOPCBrowseServerAddressSpace::QueryOrganization),
                 Slot(&IOPCBrowseServerAddressSpace::ChangeBrowsePosition),
                 Slot(&IOPCBrowseServerAddressSpace::BrowseOPCItemIDs),
                 Slot(&IOPCBrowseServerAddressSpace::GetItemID),
                 Slot(&IOPCBrowseServerAddressSpace::BrowseAccessPaths)},
                "IOPCBrowseServerAddressSpace");
    ExpectOrder({Slot(&IOPCGroupStateMgt::GetState), Slot(&IOPCGroupStateMgt::SetState),
                 Slot(&IOPCGroupStateMgt::SetName), Slot(&IOPCGroupStateMgt::CloneGroup)},
                "IOPCGroupStateMgt");
    ExpectOrder(
        {Slot(&IOPCPublicGroupStateMgt::GetState), Slot(&IOPCPublicGroupStateMgt::MoveToPublic)},
        "IOPCPublicGroupStateMgt");
    ExpectOrder({Slot(&IOPCSyncIO::Read), Slot(&IOPCSyncIO::Write)}, "IOPCSyncIO");
    ExpectOrder({Slot(&IOPCAsyncIO::Read), Slot(&IOPCAsyncIO::Write), Slot(&IOPCAsyncIO::Refresh),
                 Slot(&IOPCAsyncIO::Cancel)},
                "IOPCAsyncIO");
    ExpectOrder({Slot(&IOPCItemMgt::AddItems), Slot(&IOPCItemMgt::ValidateItems),
                 Slot(&IOPCItemMgt::RemoveItems), Slot(&IOPCItemMgt::SetActiveState),
                 Slot(&IOPCItemMgt::SetClientHandles), Slot(&IOPCItemMgt::SetDatatypes),
                 Slot(&IOPCItemMgt::CreateEnumerator)},
                "IOPCItemMgt");
    ExpectOrder({Slot(&IEnumOPCItemAttributes::Next), Slot(&IEnumOPCItemAttributes::Skip),
                 Slot(&IEnumOPCItemAttributes::Reset), Slot(&IEnumOPCItemAttributes::Clone)},
                "IEnumOPCItemAttributes");
    ExpectOrder(
        {Slot(&IOPCDataCallback::OnDataChange), Slot(&IOPCDataCallback::OnReadComplete),
         Slot(&IOPCDataCallback::OnWriteComplete), Slot(&IOPCDataCallback::OnCancelComplete)},
        "IOPCDataCallback");
    ExpectOrder({Slot(&IOPCAsyncIO2::Read), Slot(&IOPCAsyncIO2::Write),
                 Slot(&IOPCAsyncIO2::Refresh2), Slot(&IOPCAsyncIO2::Cancel2),
                 Slot(&IOPCAsyncIO2::SetEnable), Slot(&IOPCAsyncIO2::GetEnable)},
                "IOPCAsyncIO2");
    ExpectOrder(
        {Slot(&IOPCItemProperties::QueryAvailableProperties),
         Slot(&IOPCItemProperties::GetItemProperties), Slot(&IOPCItemProperties::LookupItemIDs)},
        "IOPCItemProperties");
    ExpectOrder({Slot(&IOPCCommon::SetLocaleID), Slot(&IOPCCommon::GetLocaleID),
                 Slot(&IOPCCommon::QueryAvailableLocaleIDs), Slot(&IOPCCommon::GetErrorString),
                 Slot(&IOPCCommon::SetClientName)},
                "IOPCCommon");
    ExpectOrder({Slot(&IOPCShutdown::ShutdownRequest)}, "IOPCShutdown");
}
#endif
