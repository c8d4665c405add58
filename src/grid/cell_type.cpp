#include "grid/cell_type.h"

bool CGridCellType::OnDoubleClick(int /*column*/, int /*row*/) {
    return false;
}

bool CGridCellType::CanEditInPlace() const {
    return true;
}

bool CGridCellType::ValidateEdit(int /*column*/, int /*row*/, std::string& /*text*/) {
    return true;
}
