#pragma once
// CGridCell: the record of one grid cell. Every property is optional and carries its own "is
// set" mark; a property a cell leaves unset is taken from the grid's default cell format. The
// record is a value: callers fill one and store it into a cell, or read a cell into one, and
// the grid copies it.
//
// The grid keeps one record per stored cell, so the record stays small: text and the caller's
// data pointer inline, the rarely used formatting behind a pointer that only a formatted cell
// allocates.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <QColor>
#include <QFont>

class CGridCell {
  public:
    enum Property : std::uint16_t {
        propText = 1u << 0,
        propData = 1u << 1,
        propFont = 1u << 2,
        propNoEdit = 1u << 3,
        propCellType = 1u << 4,
        propTextColor = 1u << 5,
        propBackColor = 1u << 6,
        propAlignment = 1u << 7,
    };

    CGridCell() = default;
    CGridCell(const CGridCell& other);
    CGridCell& operator=(const CGridCell& other);
    CGridCell(CGridCell&& other) noexcept = default;
    CGridCell& operator=(CGridCell&& other) noexcept = default;
    ~CGridCell();

    // Unsets every property.
    void Clear();
    // Unsets one property.
    void ClearProperty(Property property);
    bool IsSet(Property property) const { return (set_ & property) != 0; }
    // True when no property is set.
    bool IsEmpty() const { return set_ == 0; }

    // The text the cell shows (UTF-8); "" when unset.
    void SetText(std::string_view text);
    const std::string& GetText() const { return text_; }

    // A value the caller attaches to the cell. The grid stores and hands it back; it never
    // reads, owns or frees what it points to.
    void SetData(void* data);
    // The pointer, or null when no data is set.
    void* GetData() const { return data_; }

    // The font of the cell's text; GetFont is null when unset.
    void SetFont(const QFont& font);
    const QFont* GetFont() const;

    // A read-only cell refuses in-place editing; IsNoEdit is false when unset.
    void SetNoEdit(bool noEdit);
    bool IsNoEdit() const { return noEdit_; }

    // Which of the grid's cell types draws and handles the cell; 0 (the normal type) when unset.
    void SetCellTypeIndex(int index);
    int GetCellTypeIndex() const { return cellType_; }

    // Colours and alignment; the getters give null or no alignment flags when unset.
    void SetTextColor(const QColor& color);
    const QColor* GetTextColor() const;
    void SetBackColor(const QColor& color);
    const QColor* GetBackColor() const;
    void SetAlignment(Qt::Alignment alignment);
    Qt::Alignment GetAlignment() const;

    // Copies every property other sets and leaves the rest of this record as it is.
    void MergeFrom(const CGridCell& other);

    // Same set properties with the same values.
    bool operator==(const CGridCell& other) const;

  private:
    struct Format {
        QFont font;
        QColor textColor;
        QColor backColor;
        Qt::Alignment alignment;
    };
    Format& MutableFormat();

    std::string text_;
    void* data_ = nullptr;
    std::unique_ptr<Format> format_;  // allocated once a formatting property is set
    std::uint16_t set_ = 0;
    bool noEdit_ = false;
    std::int32_t cellType_ = 0;
};
