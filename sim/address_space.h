#pragma once
// The simulated server's address space: a tree of branches whose leaves are the items.
// An item id joins the branch names from the top down and the leaf name with "."; a branch name
// may itself contain ".", so ids are looked up whole, never split.
//
// Generated items compute their value from the simulated time; static items hold what was last
// written to them. The space is not thread-safe: the simulator guards it with its own lock.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "com/types.h"
#include "com/variant.h"
#include "sim/owned_variant.h"
#include "sim/signals.h"

using NodeIndex = std::size_t;

struct SimBranch {
    std::string name;
    std::string path;  // "" for the top
    NodeIndex parent = 0;
    std::vector<NodeIndex> branches;  // in the order they were added
    std::vector<NodeIndex> leaves;
};

struct SimLeaf {
    std::string name;
    std::string itemId;
    NodeIndex branch = 0;
    VARTYPE type = VT_EMPTY;  // the canonical type
    DWORD accessRights = 0;
    SignalKind signal = SignalKind::Static;
    std::uint32_t signalIndex = 0;  // the item's number for SignalKind::Load
    // An analog item's engineering range; the percent deadband of a group applies to it.
    bool hasRange = false;
    double rangeLow = 0.0;
    double rangeHigh = 0.0;
    OwnedVariant stored;  // the value of a static item
};

// What reading a leaf needs, kept apart from the names so that an update of many items walks
// a small, dense array.
struct LeafSource {
    SignalKind signal = SignalKind::Static;
    VARTYPE type = VT_EMPTY;
    std::uint32_t signalIndex = 0;
    DWORD accessRights = 0;
    bool hasRange = false;
};

class AddressSpace {
  public:
    static constexpr NodeIndex kTop = 0;

    // An empty space: only the top branch.
    AddressSpace();
    // The simulator's built-in space (see BuildBuiltInSpace).
    static AddressSpace BuiltIn();

    // Adds a branch below parent; nullopt when the name is empty or taken by a sibling branch,
    // or when the new path would be the path of another branch.
    std::optional<NodeIndex> AddBranch(NodeIndex parent, std::string_view name);
    // Adds a generated leaf; nullopt when the name is empty, taken in the branch, or the id is
    // taken by another leaf.
    std::optional<NodeIndex> AddSignal(NodeIndex branch, std::string_view name, SignalKind signal,
                                       std::uint32_t signalIndex = 0);
    // Adds a static leaf holding initial (its type becomes the canonical type).
    std::optional<NodeIndex> AddStatic(NodeIndex branch, std::string_view name,
                                       const VARIANT& initial, DWORD accessRights);
    // Gives a leaf an engineering range, making it analog.
    void SetRange(NodeIndex leaf, double low, double high);

    const SimBranch& Branch(NodeIndex index) const { return branches_[index]; }
    const SimLeaf& Leaf(NodeIndex index) const { return leaves_[index]; }
    const LeafSource& Source(NodeIndex index) const { return sources_[index]; }
    std::size_t BranchCount() const { return branches_.size(); }
    std::size_t LeafCount() const { return leaves_.size(); }

    std::optional<NodeIndex> FindLeaf(std::string_view itemId) const;
    // "" finds the top.
    std::optional<NodeIndex> FindBranch(std::string_view path) const;
    std::optional<NodeIndex> FindChildBranch(NodeIndex branch, std::string_view name) const;
    std::optional<NodeIndex> FindChildLeaf(NodeIndex branch, std::string_view name) const;
    // Every leaf at and below branch, depth first, each branch's own leaves before its branches.
    std::vector<NodeIndex> LeavesBelow(NodeIndex branch) const;

    // The leaf's value at the given simulated time, into out (which must hold nothing that needs
    // freeing).
    HRESULT Read(NodeIndex leaf, std::uint64_t milliseconds, std::uint32_t seed,
                 VARIANT* out) const;
    // Stores a value in a static leaf, converted to its canonical type. The access rights are
    // the caller's business; a generated leaf refuses with E_ACCESSDENIED, a value that does not
    // convert gives the conversion's error and changes nothing.
    HRESULT Write(NodeIndex leaf, const VARIANT& value);

  private:
    std::optional<NodeIndex> AddLeaf(NodeIndex branch, std::string_view name, SimLeaf leaf);

    std::vector<SimBranch> branches_;
    std::vector<SimLeaf> leaves_;
    std::vector<LeafSource> sources_;  // one per leaf
    std::unordered_map<std::string, NodeIndex> leafById_;
    std::unordered_map<std::string, NodeIndex> branchByPath_;
};

// Whether text is a well-formed item id: not empty, no empty name between dots (so no leading,
// trailing or doubled "."), no control characters.
bool IsWellFormedItemId(std::string_view itemId);

// Fills a space with the built-in tree: Signals, Static, Access, Plant, Dotted.Branch, Load.
void BuildBuiltInSpace(AddressSpace& space);

// The number of leaves of the Load branch.
inline constexpr std::uint32_t kLoadItemCount = 10000;
