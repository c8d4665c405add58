#pragma once
// The process's COM environment: initialisation and process-wide security at start-up, the
// task allocator in between, and the list of OPC servers installed on this machine.

#include <functional>
#include <string>
#include <vector>

#include "com/categories.h"
#include "com/malloc.h"

// Initialises COM, sets the process-wide security and takes the task allocator. When the task
// allocator cannot be had, ends COM and exits the process with code 1.
void InitComEnvironment();
// Releases the task allocator and ends COM.
void ExitComEnvironment();
// Appends the ProgIDs of the classes registered in the category; classes without a ProgID are
// skipped.
void ListServersOfCategory(REFCATID category, std::vector<std::string>& progIds);
// The process-wide task allocator taken by InitComEnvironment; null before and after.
IMalloc* TaskAllocator();
// Frees a block a server or COM handed to this process: through the task allocator taken at
// start-up, or the process's task heap when the environment is not initialised. Null is fine.
void FreeTaskMemory(void* block);

// How InitComEnvironment ends the process; tests replace it. Returns the previous one.
using ProcessExitFunction = std::function<void(int exitCode)>;
ProcessExitFunction SetProcessExitFunction(ProcessExitFunction exitFunction);
