#include "sim/address_space.h"

#include <cstdio>
#include <utility>

#include "opcda/types.h"

namespace {

std::string JoinPath(const std::string& parent, std::string_view name) {
    if (parent.empty()) {
        return std::string(name);
    }
    std::string path = parent;
    path += '.';
    path += name;
    return path;
}

// Owns a scalar or array value while it is handed to AddStatic.
OwnedVariant Scalar(VARTYPE vt) {
    OwnedVariant v;
    v.Get().vt = vt;
    v.Get().llVal = 0;
    if (vt == VT_BSTR) {
        v.Get().bstrVal = SysAllocString(u"");
    }
    return v;
}

OwnedVariant DoubleArray(std::initializer_list<double> values) {
    OwnedVariant v;
    SAFEARRAY* array = SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(values.size()));
    if (array == nullptr) {
        return v;
    }
    LONG i = 0;
    for (double value : values) {
        SafeArrayPutElement(array, &i, &value);
        ++i;
    }
    v.Get().vt = VT_ARRAY | VT_R8;
    v.Get().parray = array;
    return v;
}

OwnedVariant StringArray(std::initializer_list<const char16_t*> values) {
    OwnedVariant v;
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(values.size()));
    if (array == nullptr) {
        return v;
    }
    LONG i = 0;
    for (const char16_t* value : values) {
        BSTR text = SysAllocString(value);
        SafeArrayPutElement(array, &i, text);  // copies the string
        SysFreeString(text);
        ++i;
    }
    v.Get().vt = VT_ARRAY | VT_BSTR;
    v.Get().parray = array;
    return v;
}

}  // namespace

AddressSpace::AddressSpace() {
    branches_.push_back(SimBranch{});
    branchByPath_.emplace("", kTop);
}

AddressSpace AddressSpace::BuiltIn() {
    AddressSpace space;
    BuildBuiltInSpace(space);
    return space;
}

std::optional<NodeIndex> AddressSpace::AddBranch(NodeIndex parent, std::string_view name) {
    if (name.empty() || parent >= branches_.size() || FindChildBranch(parent, name)) {
        return std::nullopt;
    }
    std::string path = JoinPath(branches_[parent].path, name);
    if (branchByPath_.count(path) != 0) {
        return std::nullopt;
    }
    const NodeIndex index = branches_.size();
    SimBranch branch;
    branch.name = std::string(name);
    branch.path = path;
    branch.parent = parent;
    branches_.push_back(std::move(branch));
    branches_[parent].branches.push_back(index);
    branchByPath_.emplace(std::move(path), index);
    return index;
}

std::optional<NodeIndex> AddressSpace::AddLeaf(NodeIndex branch, std::string_view name,
                                               SimLeaf leaf, std::string_view itemId) {
    if (name.empty() || branch >= branches_.size()) {
        return std::nullopt;
    }
    std::string path = JoinPath(branches_[branch].path, name);
    std::string id = itemId.empty() ? path : std::string(itemId);
    // The id must be free, and the name too in its branch (a leaf of another id may hold it).
    if (leafById_.count(id) != 0 || FindChildLeaf(branch, name)) {
        return std::nullopt;
    }
    if (id != path) {
        leafByPath_.emplace(std::move(path), leaves_.size());
    }
    const NodeIndex index = leaves_.size();
    leaf.name = std::string(name);
    leaf.itemId = id;
    leaf.branch = branch;
    sources_.push_back(
        LeafSource{leaf.signal, leaf.type, leaf.signalIndex, leaf.accessRights, leaf.hasRange});
    leaves_.push_back(std::move(leaf));
    branches_[branch].leaves.push_back(index);
    leafById_.emplace(std::move(id), index);
    return index;
}

std::optional<NodeIndex> AddressSpace::AddSignal(NodeIndex branch, std::string_view name,
                                                 SignalKind signal, std::uint32_t signalIndex) {
    if (signal == SignalKind::Static) {
        return std::nullopt;
    }
    SimLeaf leaf;
    leaf.type = SignalType(signal);
    leaf.accessRights = OPC_READABLE;
    leaf.signal = signal;
    leaf.signalIndex = signalIndex;
    return AddLeaf(branch, name, std::move(leaf));
}

std::optional<NodeIndex> AddressSpace::AddStatic(NodeIndex branch, std::string_view name,
                                                 const VARIANT& initial, DWORD accessRights,
                                                 std::string_view itemId) {
    SimLeaf leaf;
    leaf.type = initial.vt;
    leaf.accessRights = accessRights;
    leaf.stored = OwnedVariant(initial);
    if (leaf.stored.Type() != initial.vt) {
        return std::nullopt;  // the copy failed
    }
    return AddLeaf(branch, name, std::move(leaf), itemId);
}

std::optional<NodeIndex> AddressSpace::AddShaped(NodeIndex branch, std::string_view name,
                                                 SignalShape shape, VARTYPE type,
                                                 std::string_view itemId) {
    if (shape.periodMs == 0 || (shape.kind == SignalKind::Text && shape.texts.empty())) {
        return std::nullopt;
    }
    // The first value tells whether the generator's values can be had as the item's type.
    VARIANT first;
    first.vt = VT_EMPTY;
    if (FAILED(EvaluateShape(shape, 0, 1, 0, &first))) {
        return std::nullopt;
    }
    OwnedVariant converted;
    const HRESULT hr = ConvertInto(converted.Ptr(), first, type);
    ClearValue(first);
    if (FAILED(hr) || converted.Type() != type) {
        return std::nullopt;
    }
    SimLeaf leaf;
    leaf.type = type;
    leaf.accessRights = OPC_READABLE;
    leaf.signal = SignalKind::Shaped;
    leaf.signalIndex = static_cast<std::uint32_t>(shapes_.size());
    const std::optional<NodeIndex> added = AddLeaf(branch, name, std::move(leaf), itemId);
    if (added) {
        shapes_.push_back(std::move(shape));
    }
    return added;
}

bool AddressSpace::AddLoadItems(NodeIndex branch, std::uint32_t count) {
    char name[24];
    for (std::uint32_t i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "Item%05u", static_cast<unsigned>(i));
        if (!AddSignal(branch, name, SignalKind::Load, i)) {
            return false;
        }
    }
    return true;
}

void AddressSpace::SetRange(NodeIndex leaf, double low, double high) {
    SimLeaf& l = leaves_.at(leaf);
    l.hasRange = true;
    l.rangeLow = low;
    l.rangeHigh = high;
    sources_[leaf].hasRange = true;
}

std::optional<NodeIndex> AddressSpace::FindLeaf(std::string_view itemId) const {
    const auto it = leafById_.find(std::string(itemId));
    if (it == leafById_.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::optional<NodeIndex> AddressSpace::FindBranch(std::string_view path) const {
    const auto it = branchByPath_.find(std::string(path));
    if (it == branchByPath_.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::optional<NodeIndex> AddressSpace::FindChildBranch(NodeIndex branch,
                                                       std::string_view name) const {
    // Paths are unique, so the path lookup finds the child without walking the siblings.
    const std::optional<NodeIndex> found = FindBranch(JoinPath(branches_.at(branch).path, name));
    if (!found || *found == kTop || branches_[*found].parent != branch ||
        branches_[*found].name != name) {
        return std::nullopt;
    }
    return found;
}

std::optional<NodeIndex> AddressSpace::FindChildLeaf(NodeIndex branch,
                                                     std::string_view name) const {
    const std::string path = JoinPath(branches_.at(branch).path, name);
    const auto matches = [&](NodeIndex leaf) {
        return leaves_[leaf].branch == branch && leaves_[leaf].name == name;
    };
    if (const std::optional<NodeIndex> found = FindLeaf(path); found && matches(*found)) {
        return found;
    }
    if (const auto it = leafByPath_.find(path); it != leafByPath_.end() && matches(it->second)) {
        return it->second;
    }
    return std::nullopt;
}

std::vector<NodeIndex> AddressSpace::LeavesBelow(NodeIndex branch) const {
    std::vector<NodeIndex> out;
    std::vector<NodeIndex> pending{branch};
    while (!pending.empty()) {
        const NodeIndex b = pending.back();
        pending.pop_back();
        const SimBranch& node = branches_.at(b);
        out.insert(out.end(), node.leaves.begin(), node.leaves.end());
        // Reversed, so that the branches come off the stack in their own order.
        pending.insert(pending.end(), node.branches.rbegin(), node.branches.rend());
    }
    return out;
}

HRESULT AddressSpace::Read(NodeIndex leaf, std::uint64_t milliseconds, std::uint32_t seed,
                           VARIANT* out) const {
    const LeafSource& source = sources_[leaf];
    if (source.signal == SignalKind::Static) {
        return CopyInto(out, leaves_[leaf].stored.Get());
    }
    if (source.signal == SignalKind::Shaped) {
        VARIANT raw;
        raw.vt = VT_EMPTY;
        HRESULT hr = EvaluateShape(shapes_[source.signalIndex], milliseconds, seed,
                                   static_cast<std::uint32_t>(leaf), &raw);
        if (SUCCEEDED(hr)) {
            hr = raw.vt == source.type ? S_OK : ConvertInto(out, raw, source.type);
            if (raw.vt == source.type) {
                *out = raw;  // taken over
                raw.vt = VT_EMPTY;
            }
        }
        ClearValue(raw);
        return hr;
    }
    return EvaluateSignal(source.signal, milliseconds, seed, source.signalIndex, out);
}

HRESULT AddressSpace::Write(NodeIndex leaf, const VARIANT& value) {
    SimLeaf& l = leaves_.at(leaf);
    if (l.signal != SignalKind::Static) {
        return E_ACCESSDENIED;
    }
    OwnedVariant converted;
    const HRESULT hr = ConvertInto(converted.Ptr(), value, l.type);
    if (FAILED(hr)) {
        return hr;
    }
    l.stored = std::move(converted);
    return S_OK;
}

bool IsWellFormedItemId(std::string_view itemId) {
    if (itemId.empty() || itemId.front() == '.' || itemId.back() == '.' ||
        itemId.find("..") != std::string_view::npos) {
        return false;
    }
    for (const char c : itemId) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            return false;
        }
    }
    return true;
}

void BuildBuiltInSpace(AddressSpace& space, std::uint32_t loadItems) {
    const NodeIndex top = AddressSpace::kTop;
    constexpr DWORD kReadWrite = OPC_READABLE | OPC_WRITEABLE;

    const NodeIndex signals = *space.AddBranch(top, "Signals");
    space.SetRange(*space.AddSignal(signals, "Ramp", SignalKind::Ramp), 0.0, 100.0);
    space.SetRange(*space.AddSignal(signals, "Sine", SignalKind::Sine), -10.0, 10.0);
    space.AddSignal(signals, "Random", SignalKind::Random);
    space.AddSignal(signals, "Square", SignalKind::Square);
    space.AddSignal(signals, "Counter", SignalKind::Counter);
    space.AddSignal(signals, "Toggle", SignalKind::Toggle);
    space.AddSignal(signals, "Text", SignalKind::Text);

    const NodeIndex statics = *space.AddBranch(top, "Static");
    const std::pair<const char*, VARTYPE> scalars[] = {
        {"Int8", VT_I1},   {"UInt8", VT_UI1},   {"Int16", VT_I2},    {"UInt16", VT_UI2},
        {"Int32", VT_I4},  {"UInt32", VT_UI4},  {"Float", VT_R4},    {"Double", VT_R8},
        {"Bool", VT_BOOL}, {"String", VT_BSTR}, {"Currency", VT_CY}, {"Date", VT_DATE},
    };
    for (const auto& [name, vt] : scalars) {
        space.AddStatic(statics, name, Scalar(vt).Get(), kReadWrite);
    }
    space.AddStatic(statics, "DoubleArray", DoubleArray({1.0, 2.5}).Get(), kReadWrite);
    space.AddStatic(statics, "StringArray", StringArray({u"a", u"b"}).Get(), kReadWrite);

    const NodeIndex access = *space.AddBranch(top, "Access");
    space.AddStatic(access, "ReadOnly", Scalar(VT_R8).Get(), OPC_READABLE);
    space.AddStatic(access, "WriteOnly", Scalar(VT_R8).Get(), OPC_WRITEABLE);
    space.AddStatic(access, "ReadWrite", Scalar(VT_R8).Get(), kReadWrite);

    const NodeIndex plant = *space.AddBranch(top, "Plant");
    const NodeIndex area1 = *space.AddBranch(plant, "Area1");
    const NodeIndex line1 = *space.AddBranch(area1, "Line1");
    space.SetRange(*space.AddSignal(line1, "Temperature", SignalKind::Temperature), 15.0, 25.0);
    space.SetRange(*space.AddSignal(line1, "Pressure", SignalKind::Pressure), 1010.75, 1015.75);
    space.AddSignal(line1, "Running", SignalKind::Square);
    space.AddBranch(plant, "Area2");

    const NodeIndex dotted = *space.AddBranch(top, "Dotted.Branch");
    space.AddStatic(dotted, "Value", Scalar(VT_I2).Get(), kReadWrite);

    space.AddLoadItems(*space.AddBranch(top, "Load"), loadItems);
}
