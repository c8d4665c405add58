#pragma once
// What the runtime needs of the document that owns it: taking a delivered item into its record,
// and telling the views that values changed.

class COPCItem;

class IRuntimeHost {
  public:
    // Finds the item's record by the live ids and lets it take the update.
    virtual void OnItemUpdate(COPCItem& item) = 0;
    // True while the tree has a group selected.
    virtual bool IsGroupSelected() const = 0;
    // Sends hint 10 to all views, with no sender.
    virtual void NotifyValuesChanged() = 0;

  protected:
    ~IRuntimeHost() = default;
};
