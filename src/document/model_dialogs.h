#pragma once
// The document's dialogs as the application shows them: each runs its dialog model through the
// installed dialog host (framework/dialog.h).

#include "document/dialogs.h"

class CModelDocumentDialogs final : public IDocumentDialogs {
  public:
    int DoServerDialog(COPCServer& server) override;
    int DoServerProperties(clBaseOPCServer& server) override;
    int DoGroupDialog(clBaseOPCGroup& group) override;
    int DoNewItems(CDoc& doc, clBaseOPCGroup& group) override;
};
