#pragma once
// The modal dialogs the document's commands open, as the document sees them: each fills in or
// edits what it is given and returns how it ended (IDOK or IDCANCEL). The GUI installs an
// implementation that shows the real dialogs; with none installed every dialog is cancelled,
// since nobody is there to fill it in.

class CDoc;
class COPCServer;
class clBaseOPCGroup;
class clBaseOPCServer;

class IDocumentDialogs {
  public:
    // The server dialog on a new, unconnected live server: on IDOK its ProgID, node name and
    // remote flag hold the operator's choice; on IDCANCEL it is untouched.
    virtual int DoServerDialog(COPCServer& server) = 0;
    // The read-only properties of a server record; the answer does not matter.
    virtual int DoServerProperties(clBaseOPCServer& server) = 0;
    // The group dialog on a group record: on IDOK its name, update rate and active flag hold
    // what the operator entered; on IDCANCEL it is untouched.
    virtual int DoGroupDialog(clBaseOPCGroup& group) = 0;
    // The new-items dialog for a group record that has a live group. It adds items to the live
    // group and records to the group record itself, taking their ids from the document, and
    // may do so whatever it ends with.
    virtual int DoNewItems(CDoc& doc, clBaseOPCGroup& group) = 0;

  protected:
    ~IDocumentDialogs() = default;
};
