// zeverive --plugin in the i386 test build: the file is a Windows DLL, run
// through the PE loader.
#include <memory>

#include "failure.h"
#include "pe_loader/call_guard.h"
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
    void* export_address = image->export_by_name("GetFilterTable");
    if (!export_address) throw Failure(path + ": not a plug-in: it has no GetFilterTable");
    if (!image->in_code(export_address)) throw Failure(path + ": not a plug-in: its GetFilterTable is no function");
    auto get_table = reinterpret_cast<FilterTable* (*)()>(export_address);
    return PluginFile{[image, get_table] {
                          const pe_loader::CallGuard guard(image->path(), image->base(), image->size(), "its GetFilterTable");
                          return get_table();
                      },
                      [image]() mutable { image.reset(); }};
}

}  // namespace zeverive::cli
