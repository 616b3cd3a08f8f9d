// zeverive.auf as the tests load it: the file named by ZEVERIVE_DLL, loaded
// once per test program and kept until it ends (process-detach then).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/records.h"
#include "pe_loader/dll.h"

namespace pe_loader_test {

const std::string& dll_path();
pe_loader::LoadedImage& dll();
// The DLL's GetFilterTable, called through its export by name.
FilterTable* dll_record();

// The loader's message for an image with these bytes, or "" if it loads.
std::string refusal(const std::vector<uint8_t>& file);

// What CPUID reports (leaf 1, EDX bit 25), which is what the DLL's
// detection reads too.
bool processor_has_sse();

}  // namespace pe_loader_test
