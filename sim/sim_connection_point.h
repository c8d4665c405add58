#pragma once
// A connection point of a simulated server object: the platform's connection point, with the
// simulator's faults in front of Advise and Unadvise. Like the point it wraps, it counts its
// references on the object that owns it.

#include <functional>
#include <memory>

#include "com/connection_point.h"

struct SimState;

class SimConnectionPoint final : public IConnectionPoint {
  public:
    // onAdvised, when given, runs after each successful Advise (without any lock held).
    SimConnectionPoint(IConnectionPointContainer& owner, REFIID connectionIid,
                       std::shared_ptr<SimState> state, std::function<void()> onAdvised = {});
    SimConnectionPoint(const SimConnectionPoint&) = delete;
    SimConnectionPoint& operator=(const SimConnectionPoint&) = delete;
    ~SimConnectionPoint() = default;

    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG AddRef() override { return owner_.AddRef(); }
    ULONG Release() override { return owner_.Release(); }

    HRESULT GetConnectionInterface(IID* pIID) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    HRESULT Unadvise(DWORD dwCookie) override;
    HRESULT EnumConnections(IEnumConnections** ppEnum) override;

    CConnectionPoint& Inner() { return inner_; }
    const CConnectionPoint& Inner() const { return inner_; }

  private:
    IConnectionPointContainer& owner_;
    std::shared_ptr<SimState> state_;
    std::function<void()> onAdvised_;
    CConnectionPoint inner_;
};
