#pragma once
// The registry of every serializable class of the configuration model.

#include "model/archive.h"

// clColumn, clColumns, clBaseOPCServer, clBaseOPCGroup, clBaseOPCItem, clHistorical and
// clHistoricals; the runtime adds its own classes to the result.
ClassRegistry ModelClasses();
