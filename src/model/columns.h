#pragma once
// Column widths of the grid, one set per kind of list, kept in the configuration document so
// that a reopened configuration shows its columns as they were left.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/object.h"

// The widths of one kind of list. Callers read and write the fields directly.
class clColumn : public CObject {
  public:
    static const CRuntimeClass runtimeClass;
    static constexpr std::size_t kWidthCount = 32;
    // The lists a set can serve.
    static constexpr std::int32_t kGroupList = 1;
    static constexpr std::int32_t kItemList = 2;
    static constexpr std::int32_t kHistoryList = 3;

    clColumn() = default;
    clColumn(std::string name, std::int32_t kind) : name(std::move(name)), kind(kind) {}

    const CRuntimeClass* GetRuntimeClass() const override { return &runtimeClass; }
    void Serialize(CArchive& ar) override;

    std::string name;                                // informative only, never used for lookups
    std::int32_t kind = 0;                           // which list the set serves
    std::array<std::int32_t, kWidthCount> widths{};  // pixels of columns 0 to 31; unused are 0
};

// The document's column sets, in list order. Embedded in the document, never referenced.
class clColumns : public CObject {
  public:
    static const CRuntimeClass runtimeClass;

    clColumns() = default;

    const CRuntimeClass* GetRuntimeClass() const override { return &runtimeClass; }
    // Storing writes every set; loading appends the sets of the file after those held.
    void Serialize(CArchive& ar) override;

    // The first set of that kind, or null.
    clColumn* FindByKind(std::int32_t kind);
    const clColumn* FindByKind(std::int32_t kind) const;
    // Appends the default sets for the group, item and history lists, in that order.
    void CreateDefaults();
    void DeleteAll() { sets_.clear(); }

    clColumn& Add(std::unique_ptr<clColumn> set);
    const std::vector<std::unique_ptr<clColumn>>& Sets() const { return sets_; }

  private:
    std::vector<std::unique_ptr<clColumn>> sets_;
};
