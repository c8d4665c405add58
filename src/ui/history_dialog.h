#pragma once
// The Qt face of the historical values dialog: the samples of one item in a grid, filled as the
// model's worker hands its batches to the user-interface thread, a remark per sample typed in
// place, and "Remove All". The dialog refuses to close while the list is being built.

#include <cstddef>
#include <string>

#include <QTimer>

#include "ui/item_grid.h"
#include "ui/model_dialog.h"

class CHistoryDlg;
class QLineEdit;

class CHistoryDialog final : public CModelDialog, public IItemGridOwner {
    Q_OBJECT

  public:
    CHistoryDialog(CHistoryDlg& model, QWidget* parent);
    ~CHistoryDialog() override;

    CItemGrid& Grid() { return *grid_; }
    // Rows shown in the grid so far.
    std::size_t ShownRows() const { return shownRows_; }
    // The list is still being built, or the grid does not show all of it yet.
    bool IsListing() const;

    // IItemGridOwner
    void OnRemarkEdited(CItemGrid& grid, int row, const std::string& text) override;

  protected:
    void ShowModel() override;
    void CancelRequested() override;

  private:
    // Takes the rows the model stored since the last look into the grid.
    void ShowNewRows();
    void RemoveAllPressed();
    void ShowTotal();

    CHistoryDlg& model_;
    CItemGrid* grid_;
    QLineEdit* total_;
    QTimer poll_;
    std::size_t shownRows_ = 0;
    std::size_t shownBatches_ = 0;
};
