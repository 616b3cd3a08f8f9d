#include "dll.h"

#include "imports.h"

namespace pe_loader {

std::unique_ptr<LoadedImage> load_dll(const std::string& path) {
    return LoadedImage::load(path, find_import);
}

}  // namespace pe_loader
