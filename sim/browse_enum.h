#pragma once
// The IEnumString a browse hands out: names in order, and, when the faults ask for it, a
// failure after a given number of names.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "com/com_object.h"
#include "com/enum.h"

class SimBrowseEnum final : public ComObject<IEnumString> {
  public:
    using Names = std::vector<std::u16string>;

    // failAfter 0: never fails. Otherwise the names from number failAfter on cannot be had: a
    // Next that would hand one out fails with failure and hands out nothing.
    SimBrowseEnum(std::shared_ptr<const Names> names, std::size_t position, std::size_t failAfter,
                  HRESULT failure)
        : names_(std::move(names)), position_(position), failAfter_(failAfter), failure_(failure) {}

    HRESULT Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) override;
    HRESULT Skip(ULONG celt) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumString** ppenum) override;

  private:
    const std::shared_ptr<const Names> names_;
    std::mutex mutex_;
    std::size_t position_ = 0;
    const std::size_t failAfter_;
    const HRESULT failure_;
};
