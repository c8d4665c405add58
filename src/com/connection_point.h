#pragma once
// Connection points: how a server object calls back into the sinks its clients advise.
// CConnectionPoint is the implementation servers embed, one per outgoing interface.

#include <cstddef>
#include <limits>
#include <map>
#include <mutex>
#include <span>
#include <vector>

#include "com/enum.h"
#include "com/guid.h"
#include "com/hresult.h"
#include "com/types.h"
#include "com/unknown.h"

inline constexpr IID IID_IConnectionPointContainer{
    0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IEnumConnectionPoints{
    0xB196B285, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IConnectionPoint{
    0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IEnumConnections{
    0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

class IConnectionPoint;
class IConnectionPointContainer;

// One advised sink: its interface pointer (a reference the receiver owns) and its cookie.
struct CONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
};
using LPCONNECTDATA = CONNECTDATA*;

class IEnumConnections : public IUnknown {
  public:
    static constexpr IID iid = IID_IEnumConnections;
    virtual HRESULT Next(ULONG cConnections, CONNECTDATA* rgcd, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cConnections) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnections** ppEnum) = 0;

  protected:
    ~IEnumConnections() = default;
};
using LPENUMCONNECTIONS = IEnumConnections*;

class IConnectionPoint : public IUnknown {
  public:
    static constexpr IID iid = IID_IConnectionPoint;
    // The IID of the outgoing interface sinks of this point implement.
    virtual HRESULT GetConnectionInterface(IID* pIID) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
    // Connects a sink; the cookie names the connection for Unadvise.
    virtual HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
    virtual HRESULT Unadvise(DWORD dwCookie) = 0;
    virtual HRESULT EnumConnections(IEnumConnections** ppEnum) = 0;

  protected:
    ~IConnectionPoint() = default;
};
using LPCONNECTIONPOINT = IConnectionPoint*;

class IEnumConnectionPoints : public IUnknown {
  public:
    static constexpr IID iid = IID_IEnumConnectionPoints;
    virtual HRESULT Next(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cConnections) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnectionPoints** ppEnum) = 0;

  protected:
    ~IEnumConnectionPoints() = default;
};
using LPENUMCONNECTIONPOINTS = IEnumConnectionPoints*;

class IConnectionPointContainer : public IUnknown {
  public:
    static constexpr IID iid = IID_IConnectionPointContainer;
    virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
    // CONNECT_E_NOCONNECTION when the object has no point for riid.
    virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;

  protected:
    ~IConnectionPointContainer() = default;
};
using LPCONNECTIONPOINTCONTAINER = IConnectionPointContainer*;

// What an IEnumConnections keeps of one connection.
struct StoredConnection {
    ComPtr<IUnknown> sink;
    DWORD cookie = 0;
};
struct EnumCopyConnection {
    static HRESULT Copy(CONNECTDATA* to, const StoredConnection& from);
    static void Destroy(CONNECTDATA* to);
};
using CEnumConnections =
    CEnumOnVector<IEnumConnections, CONNECTDATA, StoredConnection, EnumCopyConnection>;
using CEnumConnectionPoints = CEnumOnVector<IEnumConnectionPoints, IConnectionPoint*,
                                            ComPtr<IConnectionPoint>, EnumCopyInterface>;

// A connection point embedded in the object that owns it (its container). It has no reference
// count of its own: AddRef and Release count on the container, so a client holding only the
// connection point keeps the whole object alive. QueryInterface answers IUnknown and
// IConnectionPoint with the connection point itself.
//
// Each advised sink is held as the outgoing interface (the result of QueryInterface for the
// connection IID), with one reference, until Unadvise or UnadviseAll. Cookies start at 1, are
// never 0 and are not reused while the point lives. All members are thread-safe; sinks are
// called and released outside the internal lock, so a sink may unadvise from its callback.
class CConnectionPoint final : public IConnectionPoint {
  public:
    // container: the owning object, which must outlive this point (it does when the point is
    // one of its members). maxConnections > 0 limits the sinks at a time (CONNECT_E_ADVISELIMIT).
    CConnectionPoint(IConnectionPointContainer& container, REFIID connectionIid,
                     std::size_t maxConnections = std::numeric_limits<std::size_t>::max());
    CConnectionPoint(const CConnectionPoint&) = delete;
    CConnectionPoint& operator=(const CConnectionPoint&) = delete;
    ~CConnectionPoint();

    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetConnectionInterface(IID* pIID) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    // E_POINTER for a null sink or cookie pointer; CONNECT_E_CANNOTCONNECT when the sink does
    // not implement the connection interface; CONNECT_E_ADVISELIMIT when the point is full.
    HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    // CONNECT_E_NOCONNECTION for a cookie that names no connection.
    HRESULT Unadvise(DWORD dwCookie) override;
    HRESULT EnumConnections(IEnumConnections** ppEnum) override;

    const IID& ConnectionIid() const { return iid_; }
    std::size_t ConnectionCount() const;
    // The sinks advised now, in cookie order, for the owner to call. Each pointer is the
    // connection interface, so SinksAs gives them typed.
    std::vector<ComPtr<IUnknown>> Sinks() const;
    // Empty when Sink is not the connection interface of this point.
    template <class Sink>
    std::vector<ComPtr<Sink>> SinksAs() const {
        std::vector<ComPtr<Sink>> out;
        if (!(IidOf<Sink>() == iid_)) {
            return out;
        }
        for (const ComPtr<IUnknown>& s : Sinks()) {
            out.emplace_back(static_cast<Sink*>(s.Get()));
        }
        return out;
    }
    // Drops every connection (for example when the owning object shuts down).
    void UnadviseAll();

  private:
    IConnectionPointContainer& container_;
    const IID iid_;
    const std::size_t maxConnections_;
    mutable std::mutex mutex_;
    std::map<DWORD, ComPtr<IUnknown>> sinks_;
    DWORD nextCookie_ = 1;
};

// Helpers for an IConnectionPointContainer over a fixed set of embedded points.
HRESULT FindConnectionPointIn(std::span<CConnectionPoint* const> points, REFIID riid,
                              IConnectionPoint** ppCP);
HRESULT EnumConnectionPointsOf(std::span<CConnectionPoint* const> points,
                               IEnumConnectionPoints** ppEnum);
