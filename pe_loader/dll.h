// Loading a DLL the way the i386 programs do: its imports bound to the
// loader's own C runtime and system functions.
#pragma once

#include <memory>
#include <string>

#include "pe_image.h"

namespace pe_loader {

// Throws LoadError naming the file, as LoadedImage::load does.
std::unique_ptr<LoadedImage> load_dll(const std::string& path);

}  // namespace pe_loader
