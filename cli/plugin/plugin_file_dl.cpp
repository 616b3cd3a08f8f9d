#include <dlfcn.h>
#include <link.h>

#include "failure.h"
#include "plugin/plugin_host.h"

namespace zeverive::cli {
namespace {

struct CodeSearch {
    uintptr_t address;
    bool executable = false;
};

int find_executable_segment(dl_phdr_info* object, size_t, void* data) {
    auto* search = static_cast<CodeSearch*>(data);
    for (int i = 0; i < object->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = object->dlpi_phdr[i];
        const uintptr_t begin = object->dlpi_addr + segment.p_vaddr;
        if (segment.p_type != PT_LOAD || search->address < begin || search->address - begin >= segment.p_memsz)
            continue;
        search->executable = (segment.p_flags & PF_X) != 0;
        return 1;
    }
    return 0;
}

// Whether `address`, found by a symbol's name, is code this program may
// call: the symbol is a function, in a segment mapped executable. A
// variable of that name would be called as code and crash the program.
bool is_function(void* address) {
    Dl_info info{};
    void* entry = nullptr;
    if (!dladdr1(address, &info, &entry, RTLD_DL_SYMENT) || !entry) return false;
    const auto* symbol = static_cast<const ElfW(Sym)*>(entry);
    const unsigned type = ELF64_ST_TYPE(symbol->st_info);
    if (type != STT_FUNC && type != STT_GNU_IFUNC) return false;
    CodeSearch search{reinterpret_cast<uintptr_t>(address)};
    dl_iterate_phdr(find_executable_segment, &search);
    return search.executable;
}

}  // namespace

const char* const kPluginFileKind = "a shared library, such as libzeverive.so";

PluginFile open_plugin_file(const std::string& path) {
    // A bare file name would make dlopen search the library path; the user
    // means the file in the current directory.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) throw Failure(path + ": cannot load the plug-in: " + dlerror());
    void* symbol = dlsym(handle, "GetFilterTable");
    const char* problem = !symbol                ? "it has no GetFilterTable"
                          : !is_function(symbol) ? "its GetFilterTable is no function"
                                                 : nullptr;
    if (problem) {
        dlclose(handle);
        throw Failure(path + ": not a plug-in: " + problem);
    }
    return PluginFile{reinterpret_cast<FilterTable* (*)()>(symbol), [handle] { dlclose(handle); }};
}

}  // namespace zeverive::cli
