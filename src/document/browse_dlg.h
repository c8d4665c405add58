#pragma once
// The model of the new items dialog: the branches of a group's server in a tree that is listed
// lazily, the leaves of the chosen branch in a grid narrowed by a criteria text, and adding the
// chosen leaves to the group, on the server and as item records.
//
// The tree and the grid are plain data here; the view mirrors them and calls the handlers. The
// fields `criteria` and `allowDuplicates` are the controls' contents as the operator left them;
// the handlers that pull the controls (a selection change, the check box, "Add") take them in,
// and the others work with what was pulled last.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "com/types.h"
#include "com/variant.h"
#include "framework/dialog.h"

class CDoc;
class COPCServer;
class clBaseOPCGroup;

class CBrowseDlg final : public IDialogModel {
  public:
    // Dialog resource, controls and texts.
    static constexpr int IDD = 135;
    static constexpr int kIdExit = 1;
    static constexpr int kIdCriteria = 1000;
    static constexpr int kIdAllowDuplicates = 1003;
    static constexpr int kIdTree = 1004;
    static constexpr int kIdAdd = 1005;
    static constexpr int kIdGridPlaceholder = 1010;
    static constexpr const char* kCaption = "New OPC Items";
    static constexpr const char* kAddText = "Add";
    static constexpr const char* kExitText = "Exit";
    static constexpr const char* kFilterGroupText = "Filter";
    static constexpr const char* kCriteriaLabel = "Criteria";
    static constexpr const char* kAllowDuplicatesText = "Allow duplicate opc items";
    static constexpr const char* kLeafColumnTitle = "Tag Name";
    static constexpr int kLeafColumnWidth = 390;
    // The state of the record of an item the server refused: anything but valid.
    static constexpr std::int32_t kStateInvalid = 2;

    static constexpr std::size_t kRoot = 0;

    // A branch of the tree. The root is labelled with the server's ProgID and has the empty
    // path; every other node's path is its parent's joined with its name by "." (for showing:
    // the server is walked by the names themselves).
    struct Node {
        std::string label;
        std::string path;
        std::size_t parent = kRoot;
        std::vector<std::size_t> children;  // indices into Nodes(), in the server's order
        // Children are listed once, the first time they are needed; a listing that finds none
        // leaves this empty, and the next need lists again.
        bool HasChildren() const { return !children.empty(); }
    };

    // A leaf of the grid: its name and whether the operator selected its row.
    struct LeafRow {
        std::string name;
        bool chosen = false;
    };

    // The group record must have a live group (its server connected).
    CBrowseDlg(CDoc& document, clBaseOPCGroup& group);

    std::string_view GetDialogName() const override { return "new items"; }
    // Browse filters reset, the root's children listed, the check box from the document.
    void OnInitDialog() override;
    // "Exit" closes; nothing is added.
    bool OnOK() override { return true; }

    // The tree selection moved to a node: pulls the controls, goes to the node and lists its
    // leaves with the criteria.
    void OnSelectionChanged(std::size_t node);
    // A node is about to unfold or fold: lists the children of each of its children (so the tree
    // shows which of them can unfold), goes to the node and lists its leaves with the criteria
    // pulled last.
    void OnItemExpanding(std::size_t node);
    // The check box was clicked: pulls the controls; the document takes the flag.
    void OnAllowDuplicatesClicked();
    // "Add": every chosen leaf that gives an item id and is not a refused duplicate becomes a
    // live item of the group and an item record. Returns the number of records added.
    int OnAdd();

    // The operator selects or clears a leaf row; false for a row that does not exist.
    bool SetLeafChosen(std::size_t row, bool chosen);

    const std::vector<Node>& Nodes() const { return nodes_; }
    const std::vector<LeafRow>& Leaves() const { return leaves_; }

    // Control contents.
    std::string criteria;
    BOOL allowDuplicates = 0;

  private:
    COPCServer& Server() const;
    // Takes the controls in.
    void UpdateData();
    void ListChildren(std::size_t node);
    void GoToNode(std::size_t node);
    void ListLeaves();
    // False when the leaf gives no item id or is a refused duplicate.
    bool AddLeaf(const std::string& leafName);

    CDoc& document_;
    clBaseOPCGroup& group_;
    std::vector<Node> nodes_;
    std::vector<LeafRow> leaves_;
    VARTYPE dataTypeFilter_ = VT_EMPTY;
    DWORD accessRightsFilter_ = 0;
    std::string criteriaInUse_;  // as last pulled
};
