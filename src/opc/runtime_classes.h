#pragma once
// The registry of every serializable class of a configuration file, the runtime's included.

#include "model/archive.h"

// ModelClasses() plus COPCServer and clOPCList.
ClassRegistry RuntimeClasses();
