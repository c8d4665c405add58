#include "document/scripted_dialogs.h"

#include <utility>

#include "model/group_record.h"
#include "model/server_record.h"
#include "opc/opc_server.h"

namespace {

template <class Queue>
auto TakeStep(Queue& queue) {
    auto step = std::move(queue.front());
    queue.pop_front();
    return step;
}

}  // namespace

int ScriptedDocumentDialogs::DoServerDialog(COPCServer& server) {
    int answer = IDCANCEL;
    if (!serverSteps_.empty()) {
        auto step = TakeStep(serverSteps_);
        answer = step.answer;
        if (answer == IDOK && step.fill) {
            step.fill(server);
        }
    }
    shown_.push_back({Kind::server, answer, server.displayName});
    return answer;
}

int ScriptedDocumentDialogs::DoServerProperties(clBaseOPCServer& server) {
    const int answer = propertiesSteps_.empty() ? IDCANCEL : TakeStep(propertiesSteps_);
    shown_.push_back({Kind::serverProperties, answer, server.GetPropertyText("name")});
    return answer;
}

int ScriptedDocumentDialogs::DoGroupDialog(clBaseOPCGroup& group) {
    int answer = IDCANCEL;
    if (!groupSteps_.empty()) {
        auto step = TakeStep(groupSteps_);
        answer = step.answer;
        if (answer == IDOK && step.fill) {
            step.fill(group);
        }
    }
    shown_.push_back({Kind::group, answer, group.name});
    return answer;
}

int ScriptedDocumentDialogs::DoNewItems(CDoc& doc, clBaseOPCGroup& group) {
    int answer = IDCANCEL;
    if (!newItemsSteps_.empty()) {
        auto step = TakeStep(newItemsSteps_);
        answer = step.answer;
        if (step.fill) {
            step.fill(doc, group);
        }
    }
    shown_.push_back({Kind::newItems, answer, group.name});
    return answer;
}

void ScriptedDocumentDialogs::QueueServerDialog(int answer, ServerFill fill) {
    serverSteps_.push_back({answer, std::move(fill)});
}

void ScriptedDocumentDialogs::QueueServer(std::string progId, std::string nodeName, int remote) {
    QueueServerDialog(IDOK, [progId = std::move(progId), nodeName = std::move(nodeName),
                             remote](COPCServer& server) {
        server.progId = progId;
        server.nodeName = nodeName;
        server.remote = remote;
    });
}

void ScriptedDocumentDialogs::QueueServerProperties(int answer) {
    propertiesSteps_.push_back(answer);
}

void ScriptedDocumentDialogs::QueueGroupDialog(int answer, GroupFill fill) {
    groupSteps_.push_back({answer, std::move(fill)});
}

void ScriptedDocumentDialogs::QueueNewItems(int answer, NewItemsAction action) {
    newItemsSteps_.push_back({answer, std::move(action)});
}

std::size_t ScriptedDocumentDialogs::PendingSteps() const {
    return serverSteps_.size() + propertiesSteps_.size() + groupSteps_.size() +
           newItemsSteps_.size();
}
