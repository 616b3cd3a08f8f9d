// The C runtime DLL's functions, as the DLL imports them: cdecl like the C
// library's own, so most are the C library's functions themselves.
#pragma once

#include <vector>

#include "import_entry.h"

namespace pe_loader {

const std::vector<Import>& runtime_functions();

}  // namespace pe_loader
