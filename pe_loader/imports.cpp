#include "imports.h"

#include <strings.h>

#include "runtime_functions.h"
#include "system_functions.h"

namespace pe_loader {

const void* find_import(const std::string& dll, const std::string& name) {
    const std::vector<Import>* table = nullptr;
    if (strcasecmp(dll.c_str(), "kernel32.dll") == 0) table = &system_functions();
    if (strcasecmp(dll.c_str(), "msvcrt.dll") == 0) table = &runtime_functions();
    if (!table) return nullptr;
    for (const Import& entry : *table)
        if (name == entry.name) return entry.address;
    return nullptr;
}

}  // namespace pe_loader
