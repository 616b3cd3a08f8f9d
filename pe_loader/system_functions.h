// The system DLL's functions the DLL imports: stdcall (the callee removes
// its arguments), with as much behaviour as a DLL on one thread needs.
#pragma once

#include <vector>

#include "import_entry.h"

namespace pe_loader {

const std::vector<Import>& system_functions();

}  // namespace pe_loader
