// One function the loader offers a DLL's import table: its name and where
// it is.
#pragma once

namespace pe_loader {

struct Import {
    const char* name;
    const void* address;
};

}  // namespace pe_loader
