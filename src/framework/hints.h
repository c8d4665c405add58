#pragma once
// The update hints a document sends to its views through UpdateAllViews, with the object each
// one carries.

// A new configuration was made or a file was opened (no object): views rebuild from scratch.
inline constexpr int kHintNewDocument = 1;
// A server was deleted (no object).
inline constexpr int kHintServerDeleted = 2;
// A server was added (the new server record).
inline constexpr int kHintServerAdded = 3;
// The tree selected a server (no object): the grid lists the server's groups.
inline constexpr int kHintServerSelected = 4;
// A group was added (the new group record).
inline constexpr int kHintGroupAdded = 7;
// The items of a group must be listed again (the group record).
inline constexpr int kHintListGroupItems = 8;
// A group's name changed (the group record).
inline constexpr int kHintGroupRenamed = 9;
// Live values of the selected group changed (no object).
inline constexpr int kHintValuesChanged = 10;
// An item's display name changed (the item record).
inline constexpr int kHintItemRelabelled = 11;
// A server or group node leaves the tree (the node's tree item).
inline constexpr int kHintRemoveTreeNode = 12;
