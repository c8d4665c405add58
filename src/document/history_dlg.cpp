#include "document/history_dlg.h"

#include <system_error>
#include <utility>

#include "com/apartment.h"
#include "framework/document.h"
#include "framework/message_box.h"
#include "framework/ui_services.h"
#include "model/history.h"
#include "model/item_record.h"

CHistoryDlg::CHistoryDlg(clBaseOPCItem& item, CDocument* document, Poster post)
    : item_(item), document_(document), post_(std::move(post)) {
    if (!post_) {
        post_ = [](std::function<void()> call) { Apartment::Ui().Post(std::move(call)); };
    }
}

CHistoryDlg::~CHistoryDlg() {
    StopWorker();
}

void CHistoryDlg::OnInitDialog() {
    total_ = static_cast<std::int32_t>(item_.history.GetCount());
    title_ = std::string(kCaption) + ": " + item_.GetPropertyText("name");
    StartWorker();
}

bool CHistoryDlg::OnOK() {
    return QueryClose();
}

void CHistoryDlg::OnCancel() {
    StopWorker();
}

bool CHistoryDlg::QueryClose() {
    if (IsBusy()) {
        AfxMessageBox(kBusyMessage, MB_OK);
        return false;
    }
    return true;
}

void CHistoryDlg::OnRemoveAll() {
    if (IsBusy()) {
        AfxMessageBox(kBusyMessage, MB_OK);
        return;
    }
    if (AfxMessageBox(kRemoveAllQuestion, MB_YESNO) != IDYES) {
        return;
    }
    item_.history.RemoveAll();
    total_ = static_cast<std::int32_t>(item_.history.GetCount());
    StartWorker();
}

bool CHistoryDlg::OnRemarkEdited(std::size_t row, std::string_view text) {
    if (row >= rows_.size() || !item_.history.SetRemark(rows_[row].sampleNumber, text)) {
        return false;
    }
    rows_[row].remark = text;
    // The remark lives in the configuration: without this it would be lost at exit.
    if (document_ != nullptr) {
        document_->SetModifiedFlag();
    }
    return true;
}

void CHistoryDlg::StartWorker() {
    StopWorker();
    rows_.clear();
    batchesStored_ = 0;
    listing_ = std::make_shared<Listing>();
    busy_ = true;  // before the thread exists, so that a worker done at once still clears it
    try {
        worker_ = std::thread([this, listing = listing_] { Work(listing); });
    } catch (const std::system_error&) {
        busy_ = false;
    }
}

void CHistoryDlg::StopWorker() {
    if (listing_) {
        listing_->cancelled = true;
        listing_->modelAlive = false;
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    busy_ = false;
}

void CHistoryDlg::Work(std::shared_ptr<Listing> listing) {
    // Copies only, under the lock: the texts are built after it is released, so that data
    // changes arriving meanwhile wait as little as possible.
    std::vector<clHistorical> samples;
    samples.reserve(item_.history.GetCount());
    item_.history.ForEach([&samples](const clHistorical& sample) { samples.push_back(sample); });

    std::vector<Row> batch;
    for (std::size_t i = 0; i <= samples.size(); ++i) {
        const bool last = i == samples.size();
        if (!last) {
            const clHistorical& sample = samples[i];
            batch.push_back(Row{std::to_string(i + 1), sample.GetPropertyText("timestamp"),
                                sample.GetPropertyText("value"), sample.GetPropertyText("quality"),
                                sample.remark, sample.number});
        }
        if (last || batch.size() == kBatchRows) {
            if (listing->cancelled) {
                return;
            }
            post_([this, listing, rows = std::move(batch), last]() mutable {
                if (listing->modelAlive) {
                    StoreBatch(std::move(rows), last);
                }
            });
            batch = {};
        }
    }
}

void CHistoryDlg::StoreBatch(std::vector<Row>&& rows, bool last) {
    rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()),
                 std::make_move_iterator(rows.end()));
    ++batchesStored_;
    if (last) {
        busy_ = false;
    }
}
