#include <dlfcn.h>

#include "failure.h"
#include "plugin/plugin_host.h"

namespace zeverive::cli {

const char* const kPluginFileKind = "a shared library, such as libzeverive.so";

PluginFile open_plugin_file(const std::string& path) {
    // A bare file name would make dlopen search the library path; the user
    // means the file in the current directory.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) throw Failure(path + ": cannot load the plug-in: " + dlerror());
    auto get_table = reinterpret_cast<FilterTable* (*)()>(dlsym(handle, "GetFilterTable"));
    if (!get_table) {
        dlclose(handle);
        throw Failure(path + ": not a plug-in: it has no GetFilterTable");
    }
    return PluginFile{get_table, [handle] { dlclose(handle); }};
}

}  // namespace zeverive::cli
