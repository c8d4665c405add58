#pragma once
// The configuration document: the server records with their groups and items, the column sets,
// and the live servers. It reads and writes the configuration file, connects the live servers,
// groups and items when a file is opened, carries out the commands that add and delete servers
// and groups, takes every live data change into its item record, and tells the views what
// changed through update hints.

#include <cstdint>
#include <optional>
#include <string>

#include "com/types.h"
#include "framework/document.h"
#include "model/columns.h"
#include "opc/opc_list.h"
#include "opc/runtime_host.h"

class IDocumentDialogs;
class clBaseOPCGroup;
class clBaseOPCItem;
class clBaseOPCServer;

class CDoc : public CDocument, public IRuntimeHost {
  public:
    // What reading a file does beyond taking in the records.
    enum class LoadMode {
        // Connects every server of the file and adds its groups and items, as the application
        // opens a configuration.
        connect,
        // Connects nothing: the records stay without live objects and the live-server list
        // keeps what the file held, so a re-save writes the file as it was. For tools that
        // inspect and re-save files.
        recordsOnly,
    };

    explicit CDoc(LoadMode loadMode = LoadMode::connect);
    // Empties the document while it is still whole, so the live servers tear down their groups
    // with their host alive.
    ~CDoc() override;

    LoadMode GetLoadMode() const { return loadMode_; }

    // The dialogs the commands open (not owned; null cancels every dialog).
    void SetDialogs(IDocumentDialogs* dialogs) { dialogs_ = dialogs; }

    // File New: an empty configuration with the default column sets; hint 1.
    bool OnNewDocument() override;
    // File Open: reads and connects the file; the opened document counts as modified, so that
    // closing it asks to save. Hint 1.
    bool OnOpenDocument(const std::string& path) override;
    // The whole file: the header counters, the column sets and the server list. Reading
    // empties the document first and then connects the servers (LoadMode::connect).
    void Serialize(CArchive& ar) override;
    const ClassRegistry& GetClasses() const override;
    void DeleteContents() override { ResetContents(); }

    // Deletes the column sets, the server records and the live servers; every counter back to
    // 1, no selection, duplicate items not allowed.
    void ResetContents();
    // No server, group or item selected.
    void ClearSelection();

    // IRuntimeHost: a live item changed; its record takes the update.
    void OnItemUpdate(COPCItem& item) override;
    bool IsGroupSelected() const override { return groupSelected; }
    // Hint 10 to every view.
    void NotifyValuesChanged() override;

    // The commands, acting on the selection.
    void OnNewServer();
    void OnDeleteServer();
    void OnServerProperties();
    void OnNewGroup();
    void OnDeleteGroup();
    void OnGroupProperties();
    void OnNewItems();

    bool OnCmdMsg(UINT id) override;
    std::optional<bool> IsCommandEnabled(UINT id) const override;

    // The server records and the live servers.
    clOPCList serverList;
    // Column widths of the grid, per kind of list.
    clColumns columns;

    // The selection, kept by the tree view (server and group) and the grid (item).
    clBaseOPCServer* currentServer = nullptr;
    clBaseOPCGroup* currentGroup = nullptr;
    clBaseOPCItem* currentItem = nullptr;
    bool serverSelected = false;  // enables the server commands
    bool groupSelected = false;   // enables the group and item commands

    std::int32_t reservedCounter = 1;  // kept as read, written back unchanged
    std::int32_t nextItemId = 1;       // taken and advanced by the new-items dialog
    std::int32_t nextGroupId = 1;
    std::int32_t nextServerId = 1;
    std::int32_t nextServerNumber = 1;  // for the default name "OPCServer%d" of a new server
    // Set from the new-items dialog; not stored, 0 again in every new or opened document.
    BOOL allowDuplicateItems = 0;

  private:
    // Creates the live server, groups and items of every record read from a file.
    void ConnectRecords();
    void ConnectGroup(COPCServer& liveServer, clBaseOPCGroup& group);
    // Drops the item selection when it points into the group, which is about to go.
    void ForgetItemsOf(const clBaseOPCGroup& group);

    IDocumentDialogs* dialogs_ = nullptr;
    LoadMode loadMode_;
};
