#include "model/item_update.h"

#include "model/values.h"

bool IItemUpdateSource::IsNumeric() const {
    return IsNumericType(GetCanonicalType());
}

bool IItemUpdateSource::IsBoolean() const {
    return GetCanonicalType() == VT_BOOL;
}
