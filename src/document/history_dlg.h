#pragma once
// The model of the historical values dialog: the samples of one item's history buffer, newest
// first, listed by a worker thread while the dialog is already open; a remark per sample; and
// emptying the buffer. Until the list is complete the dialog refuses to close or to clear.
//
// The worker copies the samples under the buffer's lock, builds their texts after releasing it
// and hands the rows to the user-interface thread in batches (through Apartment::Ui() unless
// another poster is given), where they are stored; the dialog is busy until the last batch has
// been stored there. Closing or destroying the model while the worker runs is safe: the worker
// is told to stop and joined, and batches still queued find the model gone and do nothing.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "framework/dialog.h"

class CDocument;
class clBaseOPCItem;

class CHistoryDlg final : public IDialogModel {
  public:
    // Dialog resource, controls and texts.
    static constexpr int IDD = 139;
    static constexpr int kIdExit = 1;
    static constexpr int kIdTotal = 1000;
    static constexpr int kIdGridFrame = 1006;
    static constexpr int kIdRemoveAll = 1009;
    static constexpr const char* kCaption = "Historical Values";
    static constexpr const char* kTitleFormat = "Historical Values: %s";
    static constexpr const char* kExitText = "Exit";
    static constexpr const char* kRemoveAllText = "Remove All";
    static constexpr const char* kTotalLabel = "Total Items";
    static constexpr const char* kBusyMessage =
        "Please wait, Creating historical value list on progress";
    static constexpr const char* kRemoveAllQuestion = "Remove all of historical values?";
    // Grid columns: titles and default widths in pixels; only the remark is editable.
    static constexpr int kColumnCount = 5;
    static constexpr int kRemarkColumn = 4;
    static constexpr const char* kColumnTitles[kColumnCount] = {"No.", "Timestamp", "Value",
                                                                "Quality", "Remark"};
    static constexpr int kDefaultColumnWidths[kColumnCount] = {70, 150, 80, 80, 230};
    // Rows handed to the user-interface thread at a time.
    static constexpr std::size_t kBatchRows = 128;

    // One grid row: the texts of a sample and its number, by which a remark edit finds it.
    struct Row {
        std::string no;  // the row's position from 1, not the sample number
        std::string timestamp;
        std::string value;
        std::string quality;
        std::string remark;
        std::int32_t sampleNumber = 0;
    };

    // Runs a call on the user-interface thread; any thread may call it.
    using Poster = std::function<void(std::function<void()>)>;

    // document (may be null) is marked modified when a remark is stored.
    CHistoryDlg(clBaseOPCItem& item, CDocument* document, Poster post = {});
    ~CHistoryDlg() override;
    CHistoryDlg(const CHistoryDlg&) = delete;
    CHistoryDlg& operator=(const CHistoryDlg&) = delete;

    std::string_view GetDialogName() const override { return "history"; }
    // Title and total, then the worker.
    void OnInitDialog() override;
    // "Exit": refused with the wait message while busy.
    bool OnOK() override;
    // The dialog closes: the worker stops.
    void OnCancel() override;
    // Any other way of closing (Escape, the close box) asks this first: false, after the wait
    // message, while busy.
    bool QueryClose();

    // "Remove All": refused while busy; asks, then empties the buffer and lists again.
    void OnRemoveAll();
    // The operator finished editing the remark of a row: stored in that row's sample, found by
    // its number under the buffer's lock, and the document marked modified. False, with the row
    // unchanged, when the sample has left the buffer or the row does not exist.
    bool OnRemarkEdited(std::size_t row, std::string_view text);

    bool IsBusy() const { return busy_.load(); }
    const std::vector<Row>& Rows() const { return rows_; }
    std::int32_t Total() const { return total_; }
    const std::string& Title() const { return title_; }
    // Batches stored so far in the current listing; tells the view when to repaint.
    std::size_t BatchesStored() const { return batchesStored_; }

  private:
    // Shared with the worker and the queued batches, which may outlive the model.
    struct Listing {
        std::atomic<bool> cancelled = false;
        bool modelAlive = true;  // read and written on the user-interface thread only
    };

    void StartWorker();
    void StopWorker();
    void Work(std::shared_ptr<Listing> listing);
    void StoreBatch(std::vector<Row>&& rows, bool last);

    clBaseOPCItem& item_;
    CDocument* document_;
    Poster post_;
    std::thread worker_;
    std::shared_ptr<Listing> listing_;
    // Set before the worker starts, cleared on the user-interface thread once the last batch is
    // stored (or when the worker cannot start).
    std::atomic<bool> busy_ = false;
    std::vector<Row> rows_;
    std::int32_t total_ = 0;
    std::string title_ = kCaption;
    std::size_t batchesStored_ = 0;
};
