#pragma once
// A tiny document for the framework tests: a list of records of one registered class, with
// counters for the hooks the framework calls.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "framework/document.h"
#include "framework/hints.h"
#include "framework/view.h"
#include "model/archive.h"

class TestRecord final : public CObject {
  public:
    static const CRuntimeClass kClass;

    TestRecord() = default;
    TestRecord(std::int32_t id, std::string name) : id(id), name(std::move(name)) {}

    const CRuntimeClass* GetRuntimeClass() const override { return &kClass; }
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring()) {
            ar.WriteDWord(1);
            ar.WriteLong(id);
            ar.WriteString(name);
        } else {
            ar.ReadDWord();
            id = ar.ReadLong();
            name = ar.ReadString();
        }
    }

    std::int32_t id = 0;
    std::string name;
};

// Schema 1, fixed: a class record with another schema is refused.
inline const CRuntimeClass TestRecord::kClass{
    "clTestRecord", 1, []() -> std::unique_ptr<CObject> { return std::make_unique<TestRecord>(); }};

class TestDocument : public CDocument {
  public:
    // What Serialize does besides its job, to provoke the failures of a faulty document.
    enum class Fault { none, writeWhileLoading, readWhileStoring, throwOther };

    bool OnNewDocument() override {
        if (!CDocument::OnNewDocument()) {
            return false;
        }
        ++newCalls;
        UpdateAllViews(nullptr, kHintNewDocument);
        return true;
    }
    void DeleteContents() override {
        ++deleteCalls;
        records.clear();
    }
    void Serialize(CArchive& ar) override {
        ++serializeCalls;
        if (ar.IsStoring()) {
            if (fault == Fault::readWhileStoring) {
                ar.ReadDWord();
            }
            ar.WriteDWord(1);
            ar.WriteCount(static_cast<std::uint32_t>(records.size()));
            for (const auto& record : records) {
                ar.WriteObject(record.get());
            }
        } else {
            if (fault == Fault::writeWhileLoading) {
                ar.WriteDWord(1);
            }
            if (fault == Fault::throwOther) {
                throw std::runtime_error("faulty document");
            }
            ar.ReadDWord();
            const std::uint32_t count = ar.ReadCount();
            for (std::uint32_t i = 0; i < count; ++i) {
                records.push_back(ar.ReadNew<TestRecord>());
            }
        }
    }
    const ClassRegistry& GetClasses() const override {
        static const ClassRegistry classes = [] {
            ClassRegistry r;
            r.Add(TestRecord::kClass);
            return r;
        }();
        return classes;
    }

    void Add(std::int32_t id, std::string name) {
        records.push_back(std::make_unique<TestRecord>(id, std::move(name)));
        SetModifiedFlag();
    }

    std::vector<std::unique_ptr<TestRecord>> records;
    Fault fault = Fault::none;
    int newCalls = 0;
    int deleteCalls = 0;
    int serializeCalls = 0;
};

// A view that records every update it receives.
class RecordingView final : public CView {
  public:
    struct Update {
        CView* sender;
        int hint;
        void* object;
        bool operator==(const Update&) const = default;
    };

    void OnUpdate(CView* sender, int hint, void* object) override {
        updates.push_back({sender, hint, object});
        if (onUpdate) {
            onUpdate(hint);
        }
    }
    void OnInitialUpdate() override {
        ++initialUpdates;
        CView::OnInitialUpdate();
    }
    void OnTitleChanged() override { titles.push_back(GetDocument()->GetTitle()); }

    std::vector<Update> updates;
    std::vector<std::string> titles;
    int initialUpdates = 0;
    std::function<void(int hint)> onUpdate;
};

// A directory of its own for one test, removed afterwards.
class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tgv-framework-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}
