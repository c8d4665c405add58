#include "grid/grid_cell.h"

namespace {
constexpr std::uint16_t kFormatProperties = CGridCell::propFont | CGridCell::propTextColor |
                                            CGridCell::propBackColor | CGridCell::propAlignment;
}

CGridCell::CGridCell(const CGridCell& other)
    : text_(other.text_),
      data_(other.data_),
      format_(other.format_ ? std::make_unique<Format>(*other.format_) : nullptr),
      set_(other.set_),
      noEdit_(other.noEdit_),
      cellType_(other.cellType_) {}

CGridCell& CGridCell::operator=(const CGridCell& other) {
    if (this != &other) {
        CGridCell copy(other);
        *this = std::move(copy);
    }
    return *this;
}

CGridCell::~CGridCell() = default;

void CGridCell::Clear() {
    text_.clear();
    data_ = nullptr;
    format_.reset();
    set_ = 0;
    noEdit_ = false;
    cellType_ = 0;
}

void CGridCell::ClearProperty(Property property) {
    set_ = static_cast<std::uint16_t>(set_ & ~property);
    switch (property) {
        case propText:
            text_.clear();
            break;
        case propData:
            data_ = nullptr;
            break;
        case propNoEdit:
            noEdit_ = false;
            break;
        case propCellType:
            cellType_ = 0;
            break;
        case propFont:
            if (format_) {
                format_->font = QFont();
            }
            break;
        case propTextColor:
            if (format_) {
                format_->textColor = QColor();
            }
            break;
        case propBackColor:
            if (format_) {
                format_->backColor = QColor();
            }
            break;
        case propAlignment:
            if (format_) {
                format_->alignment = {};
            }
            break;
    }
    if ((set_ & kFormatProperties) == 0) {
        format_.reset();
    }
}

void CGridCell::SetText(std::string_view text) {
    text_.assign(text);
    set_ |= propText;
}

void CGridCell::SetData(void* data) {
    data_ = data;
    set_ |= propData;
}

void CGridCell::SetFont(const QFont& font) {
    MutableFormat().font = font;
    set_ |= propFont;
}

const QFont* CGridCell::GetFont() const {
    return IsSet(propFont) ? &format_->font : nullptr;
}

void CGridCell::SetNoEdit(bool noEdit) {
    noEdit_ = noEdit;
    set_ |= propNoEdit;
}

void CGridCell::SetCellTypeIndex(int index) {
    cellType_ = index;
    set_ |= propCellType;
}

void CGridCell::SetTextColor(const QColor& color) {
    MutableFormat().textColor = color;
    set_ |= propTextColor;
}

const QColor* CGridCell::GetTextColor() const {
    return IsSet(propTextColor) ? &format_->textColor : nullptr;
}

void CGridCell::SetBackColor(const QColor& color) {
    MutableFormat().backColor = color;
    set_ |= propBackColor;
}

const QColor* CGridCell::GetBackColor() const {
    return IsSet(propBackColor) ? &format_->backColor : nullptr;
}

void CGridCell::SetAlignment(Qt::Alignment alignment) {
    MutableFormat().alignment = alignment;
    set_ |= propAlignment;
}

Qt::Alignment CGridCell::GetAlignment() const {
    return IsSet(propAlignment) ? format_->alignment : Qt::Alignment();
}

void CGridCell::MergeFrom(const CGridCell& other) {
    if (other.IsSet(propText)) {
        SetText(other.text_);
    }
    if (other.IsSet(propData)) {
        SetData(other.data_);
    }
    if (other.IsSet(propNoEdit)) {
        SetNoEdit(other.noEdit_);
    }
    if (other.IsSet(propCellType)) {
        SetCellTypeIndex(other.cellType_);
    }
    if (other.IsSet(propFont)) {
        SetFont(other.format_->font);
    }
    if (other.IsSet(propTextColor)) {
        SetTextColor(other.format_->textColor);
    }
    if (other.IsSet(propBackColor)) {
        SetBackColor(other.format_->backColor);
    }
    if (other.IsSet(propAlignment)) {
        SetAlignment(other.format_->alignment);
    }
}

bool CGridCell::operator==(const CGridCell& other) const {
    if (set_ != other.set_ || text_ != other.text_ || data_ != other.data_ ||
        noEdit_ != other.noEdit_ || cellType_ != other.cellType_) {
        return false;
    }
    if ((set_ & kFormatProperties) == 0) {
        return true;
    }
    const Format& a = *format_;
    const Format& b = *other.format_;
    return (!IsSet(propFont) || a.font == b.font) &&
           (!IsSet(propTextColor) || a.textColor == b.textColor) &&
           (!IsSet(propBackColor) || a.backColor == b.backColor) &&
           (!IsSet(propAlignment) || a.alignment == b.alignment);
}

CGridCell::Format& CGridCell::MutableFormat() {
    if (!format_) {
        format_ = std::make_unique<Format>();
    }
    return *format_;
}
