#pragma once
// A double of the document's dialogs for tests: each kind of dialog answers from its own queue
// of steps, and every dialog shown is recorded in order.
//
//   ScriptedDocumentDialogs dialogs;
//   doc.SetDialogs(&dialogs);
//   dialogs.QueueServerDialog(IDOK, [](COPCServer& s) { s.progId = kSimulatorProgId; });
//   doc.OnNewServer();
//
// A step's fill runs only for IDOK, as a dialog changes nothing when cancelled; the new-items
// step's action runs whatever the answer, as the real dialog adds items before it closes. A
// dialog whose queue is empty is cancelled.

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "document/dialogs.h"
#include "framework/message_box.h"

class ScriptedDocumentDialogs final : public IDocumentDialogs {
  public:
    enum class Kind { server, serverProperties, group, newItems };
    struct Shown {
        Kind kind;
        int answer;
        // The display name of the live server, the name of the server or group record.
        std::string subject;
    };

    using ServerFill = std::function<void(COPCServer&)>;
    using GroupFill = std::function<void(clBaseOPCGroup&)>;
    using NewItemsAction = std::function<void(CDoc&, clBaseOPCGroup&)>;

    int DoServerDialog(COPCServer& server) override;
    int DoServerProperties(clBaseOPCServer& server) override;
    int DoGroupDialog(clBaseOPCGroup& group) override;
    int DoNewItems(CDoc& doc, clBaseOPCGroup& group) override;

    void QueueServerDialog(int answer, ServerFill fill = {});
    // OK with that identity filled in.
    void QueueServer(std::string progId, std::string nodeName = {}, int remote = 0);
    void QueueServerProperties(int answer = IDOK);
    void QueueGroupDialog(int answer, GroupFill fill = {});
    void QueueNewItems(int answer, NewItemsAction action = {});

    const std::vector<Shown>& ShownDialogs() const { return shown_; }
    std::size_t PendingSteps() const;

  private:
    template <class Fill>
    struct Step {
        int answer;
        Fill fill;
    };
    std::deque<Step<ServerFill>> serverSteps_;
    std::deque<int> propertiesSteps_;
    std::deque<Step<GroupFill>> groupSteps_;
    std::deque<Step<NewItemsAction>> newItemsSteps_;
    std::vector<Shown> shown_;
};
