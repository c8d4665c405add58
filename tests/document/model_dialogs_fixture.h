#pragma once
// The document test bed with the dialog models shown through the scripted dialog host, as the
// application shows them through its own host.

#include "document/model_dialogs.h"
#include "document_fixture.h"
#include "framework/scripted_dialog.h"

class ModelDialogsTest : public DocumentTest {
  protected:
    void SetUp() override {
        DocumentTest::SetUp();
        doc.SetDialogs(&modelDialogs);
    }

    // Adds a server, a group and an item through the scripted document dialogs, selects the
    // item as the grid's context menu does, and puts the model dialogs back.
    clBaseOPCItem* AddSelectedItem(const std::string& itemId) {
        doc.SetDialogs(&dialogs);
        server_ = server_ != nullptr ? server_ : AddServer();
        group_ = group_ != nullptr ? group_ : AddGroup(*server_, "G", 1000);
        doc.SetDialogs(&modelDialogs);
        if (group_ == nullptr) {
            return nullptr;
        }
        clBaseOPCItem* item = AddItem(*group_, itemId);
        SelectGroup(*server_, *group_);
        doc.currentItem = item;
        return item;
    }

    ScriptedDialogHost host;
    ScopedDialogHost installedHost{host};
    CModelDocumentDialogs modelDialogs;
    clBaseOPCServer* server_ = nullptr;
    clBaseOPCGroup* group_ = nullptr;
};
