#pragma once
// Rules shared by the VARIANT functions of the platform layer.

#include "com/types.h"

namespace com_detail {

// S_OK when vt names a type a VARIANT may carry (with VT_ARRAY or VT_BYREF where allowed),
// DISP_E_BADVARTYPE otherwise.
HRESULT ValidateVartype(VARTYPE vt);

}  // namespace com_detail
