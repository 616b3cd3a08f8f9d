// The functions the loader binds the DLL's imports to.
#pragma once

#include <string>

namespace pe_loader {

// The implementation of `name` from `dll` (case-insensitive DLL name), or
// nullptr when the loader has none.
const void* find_import(const std::string& dll, const std::string& name);

}  // namespace pe_loader
