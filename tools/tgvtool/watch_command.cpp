// The watch command: a configuration connected as the application connects it, its live item
// updates printed as the document takes them in.

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <string>

#include "com/apartment.h"
#include "document/doc.h"
#include "model/group_record.h"
#include "model/item_record.h"
#include "model/server_record.h"
#include "opc/opc_group.h"
#include "opc/opc_item.h"
#include "opc/opc_server.h"
#include "tgvtool/commands.h"
#include "tgvtool/field_text.h"
#include "tgvtool/runtime_commands.h"
#include "tgvtool/stop_signals.h"

namespace {

// The application's document, which also prints every update it applies to a record.
class WatchDocument final : public CDoc {
  public:
    explicit WatchDocument(std::ostream& out) : CDoc(LoadMode::connect), out_(out) {}
    ~WatchDocument() override = default;

    void OnItemUpdate(COPCItem& item) override {
        CDoc::OnItemUpdate(item);
        const COPCGroup& group = item.Group();
        const clBaseOPCServer* const server = serverList.FindServerRecord(group.Server().serverId);
        if (server == nullptr) {
            return;
        }
        const clBaseOPCGroup* const groupRecord = server->FindGroup(group.groupId);
        const clBaseOPCItem* const record = server->FindItem(group.groupId, item.itemIdNumber);
        if (groupRecord == nullptr || record == nullptr) {
            return;  // nothing was applied
        }
        out_ << TabLine({server->GetPropertyText("name"), groupRecord->name, record->displayName,
                         record->GetPropertyText("value"), record->GetPropertyText("quality"),
                         record->GetPropertyText("timestamp")});
    }

  private:
    std::ostream& out_;
};

// The wait of one poll: what is left of the duration, at most a minute; -1 without duration.
int PollTimeout(const std::optional<std::chrono::steady_clock::time_point>& deadline) {
    if (!deadline) {
        return -1;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 60'000));
}

int Watch(const std::string& path, std::optional<std::chrono::seconds> duration, std::ostream& out,
          std::ostream& err) {
    const StopSignals stop;
    std::optional<std::chrono::steady_clock::time_point> deadline;
    if (duration) {
        deadline = std::chrono::steady_clock::now() + *duration;
    }
    Apartment& apartment = Apartment::Ui();
    WatchDocument doc(out);
    if (!doc.OnOpenDocument(path)) {
        return kExitFailed;  // the document showed why
    }
    for (const auto& record : doc.serverList.ServerRecords()) {
        if (record->liveServer == nullptr) {
            err << "tgvtool: server " << FieldText(record->GetPropertyText("name"))
                << " is not connected; its items get no updates\n";
        }
    }
    while (true) {
        apartment.Drain();
        out.flush();
        if (!out) {
            err << "tgvtool: cannot write the updates\n";
            return kExitFailed;
        }
        if (stop.Stopped()) {
            break;
        }
        const int timeout = PollTimeout(deadline);
        if (timeout == 0) {
            break;
        }
        pollfd watched[2] = {{apartment.EventFd(), POLLIN, 0}, {stop.ReadFd(), POLLIN, 0}};
        if (::poll(watched, 2, timeout) < 0 && errno != EINTR) {
            err << "tgvtool: waiting for updates failed (errno " << errno << ")\n";
            return kExitFailed;
        }
    }
    return kExitOk;
}

}  // namespace

int WatchCommand(const std::string& path, std::optional<std::chrono::seconds> duration,
                 std::ostream& out, std::ostream& err) {
    int code = kExitFailed;
    try {
        code = Watch(path, duration, out, err);
    } catch (const std::exception& e) {
        err << "tgvtool: " << e.what() << '\n';
    }
    // The document is gone and its servers let go of: run what their connections handed back.
    Apartment::Ui().Drain();
    return code;
}
