// zeverive --plugin in the i386 test build: the file is a Windows DLL, run
// through the PE loader.
#include <memory>

#include "failure.h"
#include "pe_loader/dll.h"
#include "plugin/plugin_host.h"

namespace zeverive::cli {

const char* const kPluginFileKind = "a 32-bit Windows DLL, such as zeverive.auf, run through the PE loader";

PluginFile open_plugin_file(const std::string& path) {
    std::shared_ptr<pe_loader::LoadedImage> image;
    try {
        image = pe_loader::load_dll(path);
    } catch (const pe_loader::LoadError& error) {
        throw Failure(std::string("cannot load the plug-in: ") + error.what());
    }
    auto get_table = reinterpret_cast<FilterTable* (*)()>(image->export_by_name("GetFilterTable"));
    if (!get_table) throw Failure(path + ": not a plug-in: it has no GetFilterTable");
    return PluginFile{get_table, [image]() mutable { image.reset(); }};
}

}  // namespace zeverive::cli
