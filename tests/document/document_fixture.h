#pragma once
// The test bed of the document: the in-process simulation server registered under its ProgID in
// a private registry, scripted message boxes and dialogs, a view that records the hints it is
// sent, and a temporary directory for configuration files.

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/doc.h"
#include "document/scripted_dialogs.h"
#include "framework/scripted_ui.h"
#include "framework/view.h"
#include "model/group_record.h"
#include "model/item_record.h"
#include "model/server_record.h"
#include "opc/opc_group.h"
#include "opc/opc_item.h"
#include "opc/opc_server.h"
#include "sim/simulator.h"

using namespace std::chrono_literals;

// A view that keeps every hint it is sent.
class RecordingView final : public CView {
  public:
    struct Update {
        int hint;
        void* object;
        bool operator==(const Update&) const = default;
    };
    void OnUpdate(CView* /*sender*/, int hint, void* object) override {
        updates.push_back({hint, object});
    }
    std::vector<int> Hints() const {
        std::vector<int> hints;
        for (const Update& u : updates) {
            hints.push_back(u.hint);
        }
        return hints;
    }
    std::vector<Update> updates;
};

// Little-endian bytes as the archive lays them out, assembled by hand.
class Bytes {
  public:
    Bytes& U8(std::uint8_t v) {
        data_.push_back(v);
        return *this;
    }
    Bytes& U16(std::uint16_t v) { return U8(v & 0xFF).U8(static_cast<std::uint8_t>(v >> 8)); }
    Bytes& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(static_cast<std::uint16_t>(v >> 16)); }
    Bytes& F64(double v) {
        const auto bits = std::bit_cast<std::uint64_t>(v);
        return U32(bits & 0xFFFFFFFF).U32(static_cast<std::uint32_t>(bits >> 32));
    }
    Bytes& Str(std::string_view s) {  // short strings: one-byte length
        U8(static_cast<std::uint8_t>(s.size()));
        data_.insert(data_.end(), s.begin(), s.end());
        return *this;
    }
    Bytes& NewClass(std::string_view name, std::uint16_t schema = 0) {
        U16(0xFFFF).U16(schema).U16(static_cast<std::uint16_t>(name.size()));
        data_.insert(data_.end(), name.begin(), name.end());
        return *this;
    }
    // A column set's image after its class reference.
    Bytes& ColumnSet(std::string_view name, std::int32_t kind, std::vector<std::uint32_t> widths) {
        U32(1).Str(name).U32(static_cast<std::uint32_t>(kind));
        widths.resize(32, 0);
        for (const std::uint32_t w : widths) {
            U32(w);
        }
        return *this;
    }
    // The header and default column sets of a new document, with these counters.
    Bytes& NewDocumentHead(std::uint32_t nextItem = 1, std::uint32_t nextGroup = 1,
                           std::uint32_t nextServer = 1, std::uint32_t nextNumber = 1) {
        U32(1).U32(1).U32(nextItem).U32(nextGroup).U32(nextServer).U32(nextNumber);
        U32(1).U16(3);
        NewClass("clColumn").ColumnSet("OPCGroup", 1, {200, 120, 90});
        U16(0x8001).ColumnSet("OPCItem", 2, {200, 70, 100, 120, 80, 140, 90});
        U16(0x8001).ColumnSet("Historical", 3, {70, 150, 80, 80, 230});
        return *this;
    }
    const std::vector<std::uint8_t>& Data() const { return data_; }

  private:
    std::vector<std::uint8_t> data_;
};

class ScopedTempDirectory {
  public:
    ScopedTempDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tgv-doc-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            dir_ = pattern;
        }
    }
    ~ScopedTempDirectory() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    ScopedTempDirectory(const ScopedTempDirectory&) = delete;
    ScopedTempDirectory& operator=(const ScopedTempDirectory&) = delete;
    std::string Path(std::string_view name) const { return (dir_ / name).string(); }

  private:
    std::filesystem::path dir_;
};

class ScopedRegistry {
  public:
    ScopedRegistry() {
        if (const char* old = std::getenv("TAGVISTA_REGISTRY")) {
            saved_ = old;
        }
        ::setenv("TAGVISTA_REGISTRY", dir_.Path("registry").c_str(), 1);
    }
    ~ScopedRegistry() {
        if (saved_) {
            ::setenv("TAGVISTA_REGISTRY", saved_->c_str(), 1);
        } else {
            ::unsetenv("TAGVISTA_REGISTRY");
        }
    }
    ScopedRegistry(const ScopedRegistry&) = delete;
    ScopedRegistry& operator=(const ScopedRegistry&) = delete;

  private:
    ScopedTempDirectory dir_;
    std::optional<std::string> saved_;
};

inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

class DocumentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(RegisterSimulatorInProcess(sim)));
        registered_ = true;
        doc.SetDialogs(&dialogs);
        doc.AddView(&view);
        ASSERT_TRUE(doc.OnNewDocument());
        view.updates.clear();
    }
    void TearDown() override {
        doc.ResetContents();
        if (registered_) {
            RevokeSimulatorInProcess();
        }
    }

    // The simulation server disappears from the registry, so it can no longer be reached.
    void MakeServerUnreachable() {
        RevokeSimulatorInProcess();
        registered_ = false;
    }

    // Adds the simulation server through the command; the new record.
    clBaseOPCServer* AddServer() {
        dialogs.QueueServer(kSimulatorProgId);
        const std::int32_t id = doc.nextServerId;
        doc.OnNewServer();
        return doc.serverList.FindServerRecord(id);
    }

    // Selects the server as the tree does.
    void SelectServer(clBaseOPCServer& server) {
        doc.ClearSelection();
        doc.currentServer = &server;
        doc.serverSelected = true;
    }
    void SelectGroup(clBaseOPCServer& server, clBaseOPCGroup& group) {
        doc.ClearSelection();
        doc.currentServer = &server;
        doc.currentGroup = &group;
        doc.groupSelected = true;
    }

    // Adds a group to the server through the command, with the dialog's fields as given; the
    // new record.
    clBaseOPCGroup* AddGroup(clBaseOPCServer& server, std::string name = {},
                             std::int32_t updateRate = 1000) {
        SelectServer(server);
        dialogs.QueueGroupDialog(IDOK, [name, updateRate](clBaseOPCGroup& group) {
            if (!name.empty()) {
                group.name = name;
            }
            group.updateRate = updateRate;
        });
        const std::int32_t id = doc.nextGroupId;
        doc.OnNewGroup();
        return server.FindGroup(id);
    }

    // Adds an item as the new-items dialog does: live item first, then its record.
    clBaseOPCItem* AddItem(clBaseOPCGroup& group, const std::string& itemId) {
        auto live = std::make_unique<COPCItem>(*group.liveGroup);
        live->itemId = itemId;
        live->itemIdNumber = doc.nextItemId;
        live->active = 1;
        COPCItem* const listed = group.liveGroup->AddItem(std::move(live));
        if (listed == nullptr) {
            return nullptr;
        }
        auto record = std::make_unique<clBaseOPCItem>();
        record->id = doc.nextItemId++;
        record->displayName = itemId;
        record->opcItemId = itemId;
        record->active = 1;
        record->state = clBaseOPCItem::stateValid;
        record->canonicalType = listed->canonicalType;
        record->accessRights = listed->accessRights;
        return &group.InsertItemSorted(std::move(record));
    }

    std::vector<std::uint8_t> SaveBytes(const std::string& name = "saved.tgv") {
        const std::string path = files.Path(name);
        EXPECT_TRUE(doc.OnSaveDocument(path));
        return ReadFileBytes(path);
    }

    ScopedRegistry registry;
    ScopedTempDirectory files;
    ScriptedUiServices ui;
    ScopedUiServices installedUi{ui};
    Simulator sim;
    ScriptedDocumentDialogs dialogs;
    RecordingView view;
    CDoc doc;

  private:
    bool registered_ = false;
};
