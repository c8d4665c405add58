#include "model/columns.h"

#include <algorithm>
#include <initializer_list>
#include <stdexcept>

#include "model/archive.h"

namespace {

// Every image starts with a version word, written as 1 and skipped when read.
constexpr std::uint32_t kImageVersion = 1;

std::unique_ptr<clColumn> MakeSet(const char* name, std::int32_t kind,
                                  std::initializer_list<std::int32_t> widths) {
    auto set = std::make_unique<clColumn>(name, kind);
    std::copy(widths.begin(), widths.end(), set->widths.begin());
    return set;
}

}  // namespace

const CRuntimeClass clColumn::runtimeClass = {
    "clColumn", VERSIONABLE_SCHEMA | 0,
    []() -> std::unique_ptr<CObject> { return std::make_unique<clColumn>(); }};

const CRuntimeClass clColumns::runtimeClass = {
    "clColumns", VERSIONABLE_SCHEMA | 0,
    []() -> std::unique_ptr<CObject> { return std::make_unique<clColumns>(); }};

void clColumn::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteDWord(kImageVersion);
        ar.WriteString(name);
        ar.WriteLong(kind);
        for (const std::int32_t w : widths) {
            ar.WriteLong(w);
        }
    } else {
        ar.ReadDWord();
        name = ar.ReadString();
        kind = ar.ReadLong();
        for (std::int32_t& w : widths) {
            w = ar.ReadLong();
        }
    }
}

void clColumns::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteDWord(kImageVersion);
        ar.WriteCount(static_cast<std::uint32_t>(sets_.size()));
        for (const auto& set : sets_) {
            ar.WriteObject(set.get());
        }
    } else {
        ar.ReadDWord();
        // One set at a time: a count costs nothing until its sets are really there.
        const std::uint32_t count = ar.ReadCount();
        for (std::uint32_t i = 0; i < count; ++i) {
            sets_.push_back(ar.ReadNew<clColumn>());
        }
    }
}

clColumn* clColumns::FindByKind(std::int32_t kind) {
    const auto it = std::find_if(sets_.begin(), sets_.end(),
                                 [kind](const auto& set) { return set->kind == kind; });
    return it == sets_.end() ? nullptr : it->get();
}

const clColumn* clColumns::FindByKind(std::int32_t kind) const {
    return const_cast<clColumns*>(this)->FindByKind(kind);
}

void clColumns::CreateDefaults() {
    sets_.push_back(MakeSet("OPCGroup", clColumn::kGroupList, {200, 120, 90}));
    sets_.push_back(MakeSet("OPCItem", clColumn::kItemList, {200, 70, 100, 120, 80, 140, 90}));
    sets_.push_back(MakeSet("Historical", clColumn::kHistoryList, {70, 150, 80, 80, 230}));
}

clColumn& clColumns::Add(std::unique_ptr<clColumn> set) {
    if (set == nullptr) {
        throw std::invalid_argument("clColumns::Add needs a column set");
    }
    sets_.push_back(std::move(set));
    return *sets_.back();
}
