#pragma once
// The OPC Data Access custom interfaces, versions 1.0 and 2.0, with the common interfaces.

#include "opcda/browse.h"
#include "opcda/callback.h"
#include "opcda/common.h"
#include "opcda/errors.h"
#include "opcda/group.h"
#include "opcda/ids.h"
#include "opcda/quality.h"
#include "opcda/server.h"
#include "opcda/streams.h"
#include "opcda/types.h"
