#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "framework/commands.h"
#include "framework/hints.h"
#include "framework/scripted_ui.h"
#include "test_document_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr UINT kErrorBox = MB_OK | MB_ICONEXCLAMATION;

// The file header of TestDocument: version 1, then the count of records.
Bytes Header(std::uint8_t count) {
    return {0x01, 0x00, 0x00, 0x00, count, 0x00};
}

// The class record of clTestRecord with the given schema word.
Bytes ClassRecord(std::uint8_t schema) {
    Bytes b{0xFF, 0xFF, schema, 0x00, 12, 0x00};
    for (const char c : std::string("clTestRecord")) {
        b.push_back(static_cast<std::uint8_t>(c));
    }
    return b;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// A record image: version, id 7, name "P1".
const Bytes kRecordImage{0x01, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x02, 'P', '1'};

// A document whose file writes fail with a chosen errno value.
class FailingWriteDocument : public TestDocument {
  public:
    int writeError = 0;

  protected:
    int WriteDocumentFile(const std::string& path, std::span<const std::uint8_t> bytes) override {
        return writeError != 0 ? writeError : TestDocument::WriteDocumentFile(path, bytes);
    }
};

class DocumentFiles : public ::testing::Test {
  protected:
    ScriptedUiServices ui;
    ScopedUiServices installed{ui};
    TempDir dir;
};

}  // namespace

TEST_F(DocumentFiles, SaveWritesTheDocumentAndOpenReadsItBack) {
    TestDocument doc;
    RecordingView view;
    doc.AddView(&view);
    doc.Add(7, "P1");
    doc.Add(8, "P2");
    const std::string path = dir.File("plant.tgv");

    ASSERT_TRUE(doc.OnSaveDocument(path));
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.GetPathName(), path);
    EXPECT_EQ(doc.GetTitle(), "plant.tgv");
    EXPECT_EQ(ui.MessageCount(), 0u);
    // The second record of the same class refers to the class by its index (tag 0x8001).
    const Bytes expected = Concat({Header(2),
                                   ClassRecord(1),
                                   kRecordImage,
                                   {0x01, 0x80},
                                   {0x01, 0, 0, 0, 0x08, 0, 0, 0, 0x02, 'P', '2'}});
    EXPECT_EQ(ReadBytes(path), expected);

    TestDocument reopened;
    reopened.Add(1, "stale");
    ASSERT_TRUE(reopened.OnOpenDocument(path));
    ASSERT_EQ(reopened.records.size(), 2u);
    EXPECT_EQ(reopened.records[0]->id, 7);
    EXPECT_EQ(reopened.records[1]->name, "P2");
    EXPECT_EQ(reopened.deleteCalls, 1);
    EXPECT_FALSE(reopened.IsModified());
    EXPECT_EQ(reopened.GetPathName(), path);
    EXPECT_EQ(reopened.GetTitle(), "plant.tgv");
    EXPECT_EQ(ui.MessageCount(), 0u);
}

TEST_F(DocumentFiles, AFileThatCannotBeOpenedIsReportedAndLeavesTheDocumentAlone) {
    TestDocument doc;
    doc.Add(1, "kept");
    doc.SetPathName(dir.File("current.tgv"), false);

    const std::string missing = dir.File("missing.tgv");
    EXPECT_FALSE(doc.OnOpenDocument(missing));
    // A directory is refused as access denied, and so is a file without read permission.
    EXPECT_FALSE(doc.OnOpenDocument(dir.Path().string()));
    std::vector<std::string> expected{missing + " was not found.",
                                      "Access to " + dir.Path().string() + " was denied."};
    if (::geteuid() != 0) {
        const std::string locked = dir.File("locked.tgv");
        WriteBytes(locked, Header(0));
        ::chmod(locked.c_str(), 0);
        EXPECT_FALSE(doc.OnOpenDocument(locked));
        expected.push_back("Access to " + locked + " was denied.");
    }
    EXPECT_EQ(ui.MessageTexts(), expected);
    for (const auto& message : ui.Messages()) {
        EXPECT_EQ(message.type, kErrorBox);
    }

    ASSERT_EQ(doc.records.size(), 1u);
    EXPECT_EQ(doc.deleteCalls, 0);
    EXPECT_EQ(doc.newCalls, 0);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.GetTitle(), "current.tgv");
}

TEST_F(DocumentFiles, AnEmptyFileIsNotReadButOpensAsAnEmptyDocument) {
    TestDocument doc;
    doc.Add(1, "old");
    const std::string path = dir.File("empty.tgv");
    WriteBytes(path, {});

    ASSERT_TRUE(doc.OnOpenDocument(path));
    EXPECT_EQ(doc.serializeCalls, 0);
    EXPECT_EQ(doc.deleteCalls, 1);
    EXPECT_TRUE(doc.records.empty());
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.GetTitle(), "empty.tgv");
    EXPECT_EQ(ui.MessageCount(), 0u);
}

TEST_F(DocumentFiles, UnreadableContentIsReportedByCauseAndLeavesANewEmptyDocument) {
    struct Case {
        const char* what;
        Bytes file;
        TestDocument::Fault fault;
        const char* message;
    };
    const std::string kFormat = "Unexpected file format.";
    const std::string kFailed = "Failed to open document.";
    const Case cases[] = {
        {"cut short in a value", Concat({Header(1), ClassRecord(1), {0x01, 0x00}}),
         TestDocument::Fault::none, "Unexpected file format."},
        {"cut short in the header",
         {0x01, 0x00, 0x00},
         TestDocument::Fault::none,
         "Unexpected file format."},
        {"index not yet assigned", Concat({Header(1), {0x05, 0x00}}), TestDocument::Fault::none,
         "Unexpected file format."},
        {"unknown class",
         Concat({Header(1), {0xFF, 0xFF, 0x01, 0x00, 0x03, 0x00, 'c', 'l', 'X'}, kRecordImage}),
         TestDocument::Fault::none, "Unexpected file format."},
        {"class name of 64 bytes", Concat({Header(1), {0xFF, 0xFF, 0x01, 0x00, 64, 0x00}}),
         TestDocument::Fault::none, "Unexpected file format."},
        {"schema of a fixed class differs", Concat({Header(1), ClassRecord(2), kRecordImage}),
         TestDocument::Fault::none, "Unexpected file format."},
        {"string length beyond 32 bits",
         Concat({Header(1),
                 ClassRecord(1),
                 {0x01, 0, 0, 0, 0x07, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                 {0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}}),
         TestDocument::Fault::none, "Failed to open document."},
        {"a write while loading", Header(0), TestDocument::Fault::writeWhileLoading,
         "Failed to open document."},
        {"another failure of the document", Header(0), TestDocument::Fault::throwOther,
         "Failed to open document."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ui.Clear();
        TestDocument doc;
        RecordingView view;
        doc.AddView(&view);
        doc.Add(1, "before");
        doc.SetPathName(dir.File("before.tgv"), false);
        doc.fault = c.fault;
        const std::string path = dir.File("bad.tgv");
        WriteBytes(path, c.file);

        EXPECT_FALSE(doc.OnOpenDocument(path));
        ASSERT_EQ(ui.MessageCount(), 1u);
        EXPECT_EQ(ui.LastMessage()->text, c.message);
        EXPECT_EQ(ui.LastMessage()->type, kErrorBox);
        // As File New: empty, untitled, unchanged, and the views were told.
        EXPECT_TRUE(doc.records.empty());
        EXPECT_EQ(doc.newCalls, 1);
        EXPECT_FALSE(doc.IsModified());
        EXPECT_EQ(doc.GetPathName(), "");
        EXPECT_EQ(doc.GetTitle(), "Untitled");
        EXPECT_EQ(view.updates,
                  (std::vector<RecordingView::Update>{{nullptr, kHintNewDocument, nullptr}}));
    }
}

TEST_F(DocumentFiles, AFailedSaveKeepsTheOldFileAndTheModifiedDocument) {
    FailingWriteDocument doc;
    doc.Add(7, "P1");
    const std::string path = dir.File("plant.tgv");
    ASSERT_TRUE(doc.OnSaveDocument(path));
    const Bytes saved = ReadBytes(path);
    doc.Add(8, "P2");

    // Failures the disk gives, and their texts.
    const struct {
        int error;
        std::string message;
    } cases[] = {
        {ENOSPC, "Disk full while accessing " + path + "."},
        {EACCES, "Access to " + path + " was denied."},
        {EPERM, "Access to " + path + " was denied."},
        {EIO, "A hardware I/O error was reported while accessing " + path + "."},
        {EINVAL, "An unexpected error occurred while writing " + path + "."},
    };
    for (const auto& c : cases) {
        doc.writeError = c.error;
        EXPECT_FALSE(doc.OnSaveDocument(path));
        EXPECT_EQ(ui.LastMessage()->text, c.message);
        EXPECT_EQ(ui.LastMessage()->type, kErrorBox);
    }
    doc.writeError = 0;

    // A document that cannot be written out; the real disk refusing a directory as target.
    doc.fault = TestDocument::Fault::readWhileStoring;
    EXPECT_FALSE(doc.OnSaveDocument(path));
    EXPECT_EQ(ui.LastMessage()->text, "Failed to save document.");
    doc.fault = TestDocument::Fault::none;
    const std::string directory = dir.File("sub.tgv");
    std::filesystem::create_directory(directory);
    EXPECT_FALSE(doc.OnSaveDocument(directory));
    EXPECT_EQ(ui.LastMessage()->text, "Access to " + directory + " was denied.");
    EXPECT_TRUE(std::filesystem::is_directory(directory));

    EXPECT_EQ(ReadBytes(path), saved);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.GetPathName(), path);
}

TEST_F(DocumentFiles, SaveIntoAReadOnlyDirectoryLeavesTheOldFileIntact) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind the superuser";
    }
    TestDocument doc;
    doc.Add(7, "P1");
    const std::string path = dir.File("plant.tgv");
    ASSERT_TRUE(doc.OnSaveDocument(path));
    const Bytes saved = ReadBytes(path);
    doc.Add(8, "P2");
    ::chmod(dir.Path().c_str(), 0555);
    EXPECT_FALSE(doc.OnSaveDocument(path));
    ::chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(ui.LastMessage()->text, "Access to " + path + " was denied.");
    EXPECT_EQ(ReadBytes(path), saved);
}

TEST_F(DocumentFiles, SaveModifiedAsksAndFollowsTheAnswer) {
    const std::string path = dir.File("plant.tgv");
    std::vector<std::string> suggestions;
    std::optional<std::string> chosenPath;

    TestDocument doc;
    doc.SetSavePathPrompt([&](std::string_view suggested) {
        suggestions.emplace_back(suggested);
        return chosenPath;
    });

    // Unmodified: no question.
    EXPECT_TRUE(doc.SaveModified());
    EXPECT_EQ(ui.MessageCount(), 0u);

    doc.Add(7, "P1");
    ui.QueueAnswer(IDCANCEL);
    EXPECT_FALSE(doc.SaveModified());
    ASSERT_EQ(ui.MessageCount(), 1u);
    EXPECT_EQ(ui.LastMessage()->text, "Save changes to Untitled?");
    EXPECT_EQ(ui.LastMessage()->type, MB_YESNOCANCEL | MB_ICONQUESTION);

    ui.QueueAnswer(IDNO);
    EXPECT_TRUE(doc.SaveModified());
    EXPECT_TRUE(doc.IsModified());
    EXPECT_FALSE(std::filesystem::exists(path));

    // Yes on an untitled document asks for a path; no path, no save, stop.
    ui.QueueAnswer(IDYES);
    EXPECT_FALSE(doc.SaveModified());
    EXPECT_EQ(suggestions, (std::vector<std::string>{"Untitled"}));
    EXPECT_TRUE(doc.IsModified());

    chosenPath = path;
    ui.QueueAnswer(IDYES);
    EXPECT_TRUE(doc.SaveModified());
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.GetTitle(), "plant.tgv");
    EXPECT_EQ(ReadBytes(path).size(), 35u);  // one record

    // Titled: Yes saves to the document's own path without asking for one.
    doc.Add(8, "P2");
    chosenPath.reset();
    ui.QueueAnswer(IDYES);
    EXPECT_TRUE(doc.SaveModified());
    EXPECT_EQ(ui.LastMessage()->text, "Save changes to plant.tgv?");
    EXPECT_EQ(suggestions.size(), 2u);
    EXPECT_EQ(ReadBytes(path).size(), 48u);  // two records

    // A save that fails stops whatever was to follow.
    doc.Add(9, "P3");
    doc.fault = TestDocument::Fault::readWhileStoring;
    ui.QueueAnswer(IDYES);
    EXPECT_FALSE(doc.SaveModified());
    EXPECT_EQ(ui.LastMessage()->text, "Failed to save document.");
    EXPECT_EQ(ui.ScriptErrors(), 0u);
}

TEST_F(DocumentFiles, SaveAsAndReadOnlyFilesAskForAPath) {
    TestDocument doc;
    const std::string first = dir.File("first.tgv");
    const std::string second = dir.File("second.tgv");
    std::string next = second;
    std::vector<std::string> suggestions;
    doc.SetSavePathPrompt([&](std::string_view suggested) -> std::optional<std::string> {
        suggestions.emplace_back(suggested);
        return next;
    });
    doc.Add(1, "P1");
    ASSERT_TRUE(doc.DoSave(first));
    EXPECT_TRUE(suggestions.empty());

    EXPECT_TRUE(doc.OnCmdMsg(ID_FILE_SAVE_AS));
    EXPECT_EQ(suggestions, (std::vector<std::string>{first}));
    EXPECT_EQ(doc.GetPathName(), second);

    if (::geteuid() != 0) {
        ::chmod(second.c_str(), 0444);
        next = dir.File("third.tgv");
        suggestions.clear();
        EXPECT_TRUE(doc.DoFileSave());
        EXPECT_EQ(suggestions, (std::vector<std::string>{second}));
        EXPECT_EQ(doc.GetPathName(), next);
    }
}
