#include "document/browse_dlg.h"

#include <memory>
#include <utility>

#include "document/doc.h"
#include "framework/hints.h"
#include "model/group_record.h"
#include "model/item_record.h"
#include "opc/browse_walk.h"
#include "opc/opc_group.h"
#include "opc/opc_item.h"
#include "opc/opc_server.h"
#include "opcda/browse.h"

CBrowseDlg::CBrowseDlg(CDoc& document, clBaseOPCGroup& group)
    : document_(document), group_(group) {}

COPCServer& CBrowseDlg::Server() const {
    return group_.liveGroup->Server();
}

void CBrowseDlg::OnInitDialog() {
    dataTypeFilter_ = VT_EMPTY;
    accessRightsFilter_ = 0;
    nodes_.clear();
    leaves_.clear();
    nodes_.push_back(Node{Server().progId, std::string(), kRoot, {}});
    Server().SetBrowseFilter("*", VT_EMPTY, 0);
    ListChildren(kRoot);
    allowDuplicates = document_.allowDuplicateItems;
}

void CBrowseDlg::OnSelectionChanged(std::size_t node) {
    if (node >= nodes_.size()) {
        return;
    }
    UpdateData();
    GoToNode(node);
    ListLeaves();
}

void CBrowseDlg::OnItemExpanding(std::size_t node) {
    if (node >= nodes_.size()) {
        return;
    }
    // Copied: listing grows the node vector, which may move the node.
    const std::vector<std::size_t> children = nodes_[node].children;
    for (const std::size_t child : children) {
        ListChildren(child);
    }
    GoToNode(node);
    ListLeaves();
}

void CBrowseDlg::OnAllowDuplicatesClicked() {
    UpdateData();
    document_.allowDuplicateItems = allowDuplicates;
}

bool CBrowseDlg::SetLeafChosen(std::size_t row, bool chosen) {
    if (row >= leaves_.size()) {
        return false;
    }
    leaves_[row].chosen = chosen;
    return true;
}

int CBrowseDlg::OnAdd() {
    UpdateData();
    document_.allowDuplicateItems = allowDuplicates;
    int added = 0;
    // The server's position is the node whose leaves the grid shows, so the leaf names resolve
    // there.
    for (const LeafRow& leaf : leaves_) {
        if (leaf.chosen && AddLeaf(leaf.name)) {
            ++added;
        }
    }
    if (added > 0) {
        document_.UpdateAllViews(nullptr, kHintListGroupItems, &group_);
    }
    return added;
}

bool CBrowseDlg::AddLeaf(const std::string& leafName) {
    const std::string itemId = Server().GetFullItemId(leafName);
    if (itemId.empty()) {
        return false;
    }
    if (!allowDuplicates && group_.HasItemNamed(itemId)) {
        return false;
    }
    auto live = std::make_unique<COPCItem>(*group_.liveGroup);
    live->itemIdNumber = document_.nextItemId++;
    live->itemId = itemId;
    live->requestedType = VT_EMPTY;
    live->active = 1;
    const std::int32_t idNumber = live->itemIdNumber;
    const BOOL active = live->active;
    const VARTYPE requestedType = live->requestedType;
    // Null when the server refused the item (it reported why); the live item is gone then.
    const COPCItem* const listed = group_.liveGroup->AddItem(std::move(live));

    auto record = std::make_unique<clBaseOPCItem>();
    record->id = idNumber;
    record->displayName = itemId;
    record->opcItemId = itemId;
    record->active = active;
    record->requestedType = requestedType;
    if (listed != nullptr) {
        record->state = clBaseOPCItem::stateValid;
        record->canonicalType = listed->canonicalType;
        record->accessRights = listed->accessRights;
    } else {
        // The record stays, so the operator sees the item, but it must not claim to exist on the
        // server nor carry rights and a type the server never gave.
        record->state = kStateInvalid;
        record->canonicalType = VT_EMPTY;
        record->accessRights = 0;
    }
    group_.InsertItemSorted(std::move(record));
    return true;
}

void CBrowseDlg::UpdateData() {
    criteriaInUse_ = criteria;
}

void CBrowseDlg::ListChildren(std::size_t node) {
    if (nodes_[node].HasChildren()) {
        return;
    }
    GoToNode(node);
    std::vector<std::string> names;
    if (!Server().ListBrowseNames(OPC_BRANCH, names)) {
        return;
    }
    const std::string parentPath = nodes_[node].path;
    for (std::string& name : names) {
        std::string path = JoinBrowsePath(parentPath, name);
        nodes_[node].children.push_back(nodes_.size());
        nodes_.push_back(Node{std::move(name), std::move(path), node, {}});
    }
}

void CBrowseDlg::GoToNode(std::size_t node) {
    ClimbToTop(Server());
    // Down by the branch names themselves rather than by the pieces of the joined path, so that
    // a branch whose own name holds "." is reached too. A refused step does not stop the
    // descent.
    std::vector<std::size_t> line;
    for (std::size_t at = node; at != kRoot; at = nodes_[at].parent) {
        line.push_back(at);
    }
    for (auto at = line.rbegin(); at != line.rend(); ++at) {
        Server().MoveBrowsePosition(OPC_BROWSE_DOWN, nodes_[*at].label);
    }
}

void CBrowseDlg::ListLeaves() {
    std::vector<std::string> names;
    ::ListLeaves(Server(), criteriaInUse_, dataTypeFilter_, accessRightsFilter_, names,
                 [this](const std::vector<std::string>& found) {
                     leaves_.clear();
                     leaves_.reserve(found.size());
                     for (const std::string& name : found) {
                         leaves_.push_back(LeafRow{name, false});
                     }
                 });
}
