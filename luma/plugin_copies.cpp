#include "luma/plugin_copies.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

extern "C" const unsigned char zeverive_plugin_module_start[];
extern "C" const unsigned char zeverive_plugin_module_end[];

namespace zeverive::luma {
namespace {

std::string system_error(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// A memory file holding the module's bytes.
int module_file() {
    const int file = memfd_create("zeverive-plugin-copy", MFD_CLOEXEC);
    if (file < 0) throw std::runtime_error(system_error("cannot make a memory file for a plug-in copy"));
    const unsigned char* bytes = zeverive_plugin_module_start;
    while (bytes < zeverive_plugin_module_end) {
        const ssize_t written = write(file, bytes, static_cast<size_t>(zeverive_plugin_module_end - bytes));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            const std::string message = system_error("cannot write a plug-in copy to its memory file");
            close(file);
            throw std::runtime_error(message);
        }
        bytes += written;
    }
    return file;
}

}  // namespace

PluginCopy::PluginCopy() : file_(module_file()) {
    const std::string name = "/proc/self/fd/" + std::to_string(file_);
    module_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module_) {
        const std::string message = std::string("cannot load a plug-in copy: ") + dlerror();
        close(file_);
        throw std::runtime_error(message);
    }
    auto get_table = reinterpret_cast<FilterTable* (*)()>(dlsym(module_, "GetFilterTable"));
    initialise_variant_ = reinterpret_cast<int32_t (*)(int32_t)>(dlsym(module_, "zeverive_initialise_variant"));
    table_ = get_table ? get_table() : nullptr;
    if (!table_ || !initialise_variant_) {
        dlclose(module_);
        close(file_);
        throw std::runtime_error("a plug-in copy lacks its exports");
    }
}

PluginCopy::~PluginCopy() {
    dlclose(module_);
    close(file_);
}

int32_t PluginCopy::initialise_variant(KernelVariant variant) const {
    return initialise_variant_(variant);
}

}  // namespace zeverive::luma
