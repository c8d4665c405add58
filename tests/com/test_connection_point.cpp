#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "com/com_object.h"
#include "com/connection_point.h"

namespace {

class ISink : public IUnknown {
  public:
    static constexpr IID iid{0x5E5E5E5E, 0x0001, 0x0001, {1, 1, 1, 1, 1, 1, 1, 1}};
    virtual void Ping(int value) = 0;

  protected:
    ~ISink() = default;
};

class IOtherSink : public IUnknown {
  public:
    static constexpr IID iid{0x5E5E5E5E, 0x0001, 0x0002, {1, 1, 1, 1, 1, 1, 1, 1}};

  protected:
    ~IOtherSink() = default;
};

class CSink final : public ComObject<ISink> {
  public:
    void Ping(int value) override {
        received.push_back(value);
        if (onPing) {
            onPing();
        }
    }
    ULONG Count() const { return RefCount(); }
    std::vector<int> received;
    std::function<void()> onPing;
};

class COtherSink final : public ComObject<IOtherSink> {
  public:
    ULONG Count() const { return RefCount(); }
};

// A server object with one connection point for ISink and one for IOtherSink (at most one
// sink there).
class CServer final : public ComObject<IConnectionPointContainer> {
  public:
    explicit CServer(bool* destroyed) : destroyed_(destroyed) {}
    ~CServer() override { *destroyed_ = true; }

    HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
        return EnumConnectionPointsOf(points_, ppEnum);
    }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
        return FindConnectionPointIn(points_, riid, ppCP);
    }
    void Fire(int value) {
        for (const ComPtr<ISink>& s : sinkPoint.SinksAs<ISink>()) {
            s->Ping(value);
        }
    }
    ULONG Count() const { return RefCount(); }

    CConnectionPoint sinkPoint{*this, ISink::iid};
    CConnectionPoint otherPoint{*this, IOtherSink::iid, 1};

  private:
    std::array<CConnectionPoint*, 2> points_{&sinkPoint, &otherPoint};
    bool* destroyed_;
};

ComPtr<IConnectionPoint> Find(IConnectionPointContainer* c, REFIID iid) {
    ComPtr<IConnectionPoint> cp;
    EXPECT_EQ(c->FindConnectionPoint(iid, cp.Put()), S_OK);
    return cp;
}

TEST(ConnectionPoint, AdviseAndUnadviseByCookie) {
    bool destroyed = false;
    ComPtr<CServer> server = MakeComObject<CServer>(&destroyed);
    ComPtr<IConnectionPoint> cp = Find(server.Get(), ISink::iid);
    ComPtr<CSink> a = MakeComObject<CSink>();
    ComPtr<CSink> b = MakeComObject<CSink>();

    DWORD ca = 0, cb = 0;
    ASSERT_EQ(cp->Advise(a->GetUnknown(), &ca), S_OK);
    ASSERT_EQ(cp->Advise(b->GetUnknown(), &cb), S_OK);
    EXPECT_NE(ca, 0u);
    EXPECT_NE(cb, 0u);
    EXPECT_NE(ca, cb);
    EXPECT_EQ(a->Count(), 2u);  // the point holds one reference per connection

    server->Fire(7);
    EXPECT_EQ(a->received, std::vector<int>{7});
    EXPECT_EQ(b->received, std::vector<int>{7});

    ASSERT_EQ(cp->Unadvise(ca), S_OK);
    EXPECT_EQ(a->Count(), 1u);
    EXPECT_EQ(cp->Unadvise(ca), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(cp->Unadvise(0), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(cp->Unadvise(cb + 100), CONNECT_E_NOCONNECTION);
    server->Fire(8);
    EXPECT_EQ(a->received, std::vector<int>{7});
    EXPECT_EQ(b->received, (std::vector<int>{7, 8}));

    // A cookie is not reused for a later connection.
    DWORD again = 0;
    ASSERT_EQ(cp->Advise(a->GetUnknown(), &again), S_OK);
    EXPECT_NE(again, ca);
    EXPECT_NE(again, cb);
    EXPECT_EQ(server->sinkPoint.ConnectionCount(), 2u);
}

TEST(ConnectionPoint, RefusesWrongSinksFullPointsAndNullArguments) {
    bool destroyed = false;
    ComPtr<CServer> server = MakeComObject<CServer>(&destroyed);
    ComPtr<IConnectionPoint> cp = Find(server.Get(), ISink::iid);
    ComPtr<COtherSink> other = MakeComObject<COtherSink>();
    DWORD cookie = 5;
    EXPECT_EQ(cp->Advise(other->GetUnknown(), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(other->Count(), 1u);  // nothing kept
    EXPECT_EQ(cp->Advise(nullptr, &cookie), E_POINTER);
    EXPECT_EQ(cp->Advise(other->GetUnknown(), nullptr), E_POINTER);

    ComPtr<IConnectionPoint> limited = Find(server.Get(), IOtherSink::iid);
    ASSERT_EQ(limited->Advise(other->GetUnknown(), &cookie), S_OK);
    DWORD second = 0;
    EXPECT_EQ(limited->Advise(other->GetUnknown(), &second), CONNECT_E_ADVISELIMIT);
    EXPECT_EQ(other->Count(), 2u);
    ASSERT_EQ(limited->Unadvise(cookie), S_OK);
    EXPECT_EQ(limited->Advise(other->GetUnknown(), &second), S_OK);
}

TEST(ConnectionPoint, ContainerFindsEnumeratesAndSharesItsLifetime) {
    bool destroyed = false;
    ComPtr<CServer> server = MakeComObject<CServer>(&destroyed);
    ComPtr<IConnectionPoint> cp;
    EXPECT_EQ(server->FindConnectionPoint(IID_IUnknown, cp.Put()), CONNECT_E_NOCONNECTION);
    EXPECT_FALSE(cp);
    cp = Find(server.Get(), IOtherSink::iid);
    IID iid{};
    ASSERT_EQ(cp->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, IOtherSink::iid);

    ComPtr<IConnectionPointContainer> back;
    ASSERT_EQ(cp->GetConnectionPointContainer(back.Put()), S_OK);
    EXPECT_EQ(static_cast<IConnectionPointContainer*>(server.Get()), back.Get());
    back.Reset();

    // QueryInterface on the point answers the point itself.
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(cp.As(unknown), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown.Get()), static_cast<void*>(cp.Get()));
    ComPtr<IConnectionPointContainer> notHere;
    EXPECT_EQ(cp.As(notHere), E_NOINTERFACE);
    unknown.Reset();

    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(server->EnumConnectionPoints(points.Put()), S_OK);
    IConnectionPoint* got[3] = {};
    ULONG fetched = 0;
    ASSERT_EQ(points->Next(3, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    std::set<std::uint16_t> seen;
    for (ULONG i = 0; i < fetched; ++i) {
        ASSERT_EQ(got[i]->GetConnectionInterface(&iid), S_OK);
        seen.insert(iid.Data3);
        got[i]->Release();
    }
    EXPECT_EQ(seen, (std::set<std::uint16_t>{1, 2}));
    points.Reset();

    // References on the point are references on the server: a client that keeps only the
    // point keeps the server alive.
    const ULONG before = server->Count();
    ComPtr<IConnectionPoint> extra = cp;
    EXPECT_EQ(server->Count(), before + 1);
    extra.Reset();
    server.Reset();
    EXPECT_FALSE(destroyed);
    cp.Reset();
    EXPECT_TRUE(destroyed);
}

TEST(ConnectionPoint, EnumConnectionsAndReleaseOnShutdown) {
    bool destroyed = false;
    ComPtr<CServer> server = MakeComObject<CServer>(&destroyed);
    ComPtr<IConnectionPoint> cp = Find(server.Get(), ISink::iid);
    ComPtr<CSink> a = MakeComObject<CSink>();
    ComPtr<CSink> b = MakeComObject<CSink>();
    DWORD ca = 0, cb = 0;
    ASSERT_EQ(cp->Advise(a->GetUnknown(), &ca), S_OK);
    ASSERT_EQ(cp->Advise(b->GetUnknown(), &cb), S_OK);

    ComPtr<IEnumConnections> e;
    ASSERT_EQ(cp->EnumConnections(e.Put()), S_OK);
    CONNECTDATA data[2] = {};
    ULONG fetched = 0;
    ASSERT_EQ(e->Next(2, data, &fetched), S_OK);
    EXPECT_EQ(data[0].dwCookie, ca);
    EXPECT_EQ(data[1].dwCookie, cb);
    EXPECT_EQ(static_cast<void*>(data[0].pUnk), static_cast<void*>(static_cast<ISink*>(a.Get())));
    EXPECT_EQ(a->Count(), 4u);  // ours, the point's, the enumerator's, the one handed out
    for (CONNECTDATA& d : data) {
        d.pUnk->Release();
    }
    e.Reset();
    EXPECT_EQ(a->Count(), 2u);

    cp.Reset();
    server.Reset();
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(a->Count(), 1u);  // the dying server let go of its sinks
    EXPECT_EQ(b->Count(), 1u);
}

TEST(ConnectionPoint, SinkMayUnadviseFromItsCallback) {
    bool destroyed = false;
    ComPtr<CServer> server = MakeComObject<CServer>(&destroyed);
    ComPtr<IConnectionPoint> cp = Find(server.Get(), ISink::iid);
    DWORD cookie = 0;
    {
        ComPtr<CSink> sink = MakeComObject<CSink>();
        sink->onPing = [&] { EXPECT_EQ(cp->Unadvise(cookie), S_OK); };
        ASSERT_EQ(cp->Advise(sink->GetUnknown(), &cookie), S_OK);
    }
    server->Fire(1);  // the sink, held only by the point, unadvises itself from inside Ping
    EXPECT_EQ(server->sinkPoint.ConnectionCount(), 0u);
    server->Fire(2);
}

TEST(ConnectionPoint, ConcurrentAdviseGivesDistinctCookies) {
    bool destroyed = false;
    ComPtr<CServer> server = MakeComObject<CServer>(&destroyed);
    ComPtr<CSink> sink = MakeComObject<CSink>();
    std::vector<std::vector<DWORD>> cookies(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < cookies.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                DWORD c = 0;
                ASSERT_EQ(server->sinkPoint.Advise(sink->GetUnknown(), &c), S_OK);
                cookies[t].push_back(c);
                if (i % 2 == 0) {
                    ASSERT_EQ(server->sinkPoint.Unadvise(c), S_OK);
                }
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    std::set<DWORD> all;
    for (const auto& list : cookies) {
        all.insert(list.begin(), list.end());
    }
    EXPECT_EQ(all.size(), 2000u);
    EXPECT_EQ(server->sinkPoint.ConnectionCount(), 1000u);
    EXPECT_EQ(sink->Count(), 1001u);
    server->sinkPoint.UnadviseAll();
    EXPECT_EQ(sink->Count(), 1u);
}

}  // namespace
