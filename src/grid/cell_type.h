#pragma once
// Cell types: each cell is drawn and handled by the cell type its cell type index names. The
// grid always has the normal type at index 0 (text display and in-place text editing); other
// types are added by the code that needs them.

#include <string>
#include <string_view>

class CGridCellType {
  public:
    virtual ~CGridCellType() = default;

    // The name the type is known by.
    virtual std::string_view GetName() const = 0;
    // A double click on a cell of this type, before the grid's OnDoubleClick hook, which is told
    // whether the type handled it. The default does not.
    virtual bool OnDoubleClick(int column, int row);
    // Whether the in-place text editor may open on cells of this type.
    virtual bool CanEditInPlace() const;
    // The in-place editor is closing with text (not cancelled). False refuses the text and keeps
    // the editor open; the type may also adjust the text. The default accepts it unchanged.
    virtual bool ValidateEdit(int column, int row, std::string& text);

  protected:
    CGridCellType() = default;
    CGridCellType(const CGridCellType&) = default;
    CGridCellType& operator=(const CGridCellType&) = default;
};

// Index 0: shows the cell's text and edits it in place.
class CNormalCellType final : public CGridCellType {
  public:
    std::string_view GetName() const override { return "Normal Cell Type (default)"; }
};
