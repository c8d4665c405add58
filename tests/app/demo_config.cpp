#include "demo_config.h"

#include <memory>

#include "document/doc.h"
#include "document/scripted_dialogs.h"
#include "model/group_record.h"
#include "model/item_record.h"
#include "model/server_record.h"
#include "opc/opc_group.h"
#include "opc/opc_item.h"
#include "opc/opc_server.h"
#include "sim/simulator.h"

namespace app_test {
namespace {

struct DemoItem {
    const char* name;
    const char* itemId;
    bool history = false;
    bool scaled = false;
};

// An item added as the new-items dialog adds it: the live item first, then its record.
bool AddItem(CDoc& doc, clBaseOPCGroup& group, const DemoItem& demo) {
    if (group.liveGroup == nullptr) {
        return false;
    }
    auto live = std::make_unique<COPCItem>(*group.liveGroup);
    live->itemId = demo.itemId;
    live->itemIdNumber = doc.nextItemId;
    live->active = 1;
    const COPCItem* const listed = group.liveGroup->AddItem(std::move(live));
    if (listed == nullptr) {
        return false;
    }
    auto record = std::make_unique<clBaseOPCItem>();
    record->id = doc.nextItemId++;
    record->displayName = demo.name;
    record->opcItemId = demo.itemId;
    record->active = 1;
    record->state = clBaseOPCItem::stateValid;
    record->canonicalType = listed->canonicalType;
    record->accessRights = listed->accessRights;
    record->history.enabled = demo.history;
    if (demo.scaled) {
        // The sine's -10 to 10 shown as 0 to 100 percent.
        record->scaleEnabled = true;
        record->scaleType = clBaseOPCItem::scaleTypeLinear;
        record->rawMin = -10.0;
        record->rawMax = 10.0;
        record->engMin = 0.0;
        record->engMax = 100.0;
    }
    group.InsertItemSorted(std::move(record));
    return true;
}

clBaseOPCGroup* AddGroup(CDoc& doc, ScriptedDocumentDialogs& dialogs, clBaseOPCServer& server,
                         const char* name, int rate) {
    doc.ClearSelection();
    doc.currentServer = &server;
    doc.serverSelected = true;
    dialogs.QueueGroupDialog(IDOK, [name, rate](clBaseOPCGroup& group) {
        group.name = name;
        group.updateRate = rate;
        group.active = 1;
    });
    const std::int32_t id = doc.nextGroupId;
    doc.OnNewGroup();
    return server.FindGroup(id);
}

}  // namespace

bool BuildDemoConfiguration(CDoc& doc) {
    ScriptedDocumentDialogs dialogs;
    doc.SetDialogs(&dialogs);
    dialogs.QueueServer(kSimulatorProgId);
    const std::int32_t serverId = doc.nextServerId;
    doc.OnNewServer();
    clBaseOPCServer* const server = doc.serverList.FindServerRecord(serverId);
    bool built = server != nullptr;
    if (built) {
        clBaseOPCGroup* const fast = AddGroup(doc, dialogs, *server, kDemoFastGroup, kDemoFastRate);
        clBaseOPCGroup* const plant =
            AddGroup(doc, dialogs, *server, kDemoPlantGroup, kDemoPlantRate);
        built = fast != nullptr && plant != nullptr;
        if (built) {
            const DemoItem fastItems[] = {
                {"Ramp", "Signals.Ramp"},
                {"Sine", "Signals.Sine", false, true},
                {"Counter", "Signals.Counter", true},
                {"Toggle", "Signals.Toggle"},
                {"Text", "Signals.Text"},
            };
            const DemoItem plantItems[] = {
                {"Temperature", "Plant.Area1.Line1.Temperature", true},
                {"Pressure", "Plant.Area1.Line1.Pressure"},
                {"Running", "Plant.Area1.Line1.Running"},
                {"Setpoint", "Static.Double"},
                {"Batch", "Static.String"},
            };
            for (const DemoItem& item : fastItems) {
                built = AddItem(doc, *fast, item) && built;
            }
            for (const DemoItem& item : plantItems) {
                built = AddItem(doc, *plant, item) && built;
            }
        }
    }
    doc.ClearSelection();
    doc.SetDialogs(nullptr);
    return built;
}

std::string DemoConfigurationPath() {
    return std::string(TGV_SOURCE_DIR) + "/examples/demo.tgv";
}

}  // namespace app_test
