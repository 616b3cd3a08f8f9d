#include "dll_under_test.h"

#include <cpuid.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace pe_loader_test {

const std::string& dll_path() {
    static const std::string path = [] {
        const char* path = std::getenv("ZEVERIVE_DLL");
        if (!path) throw std::runtime_error("ZEVERIVE_DLL must name zeverive.auf");
        return std::string(path);
    }();
    return path;
}

pe_loader::LoadedImage& dll() {
    static const std::unique_ptr<pe_loader::LoadedImage> image = pe_loader::load_dll(dll_path());
    return *image;
}

FilterTable* dll_record() {
    return reinterpret_cast<FilterTable* (*)()>(dll().export_by_name("GetFilterTable"))();
}

std::string refusal(const std::vector<uint8_t>& file) {
    char path[] = "/tmp/pe_loader_testXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || write(fd, file.data(), file.size()) != static_cast<ssize_t>(file.size())) return "cannot write " + std::string(path);
    close(fd);
    std::string message;
    try {
        pe_loader::load_dll(path);
    } catch (const pe_loader::LoadError& error) {
        message = error.what();
    }
    unlink(path);
    return message;
}

bool processor_has_sse() {
    unsigned eax, ebx, ecx, edx;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (edx & (1u << 25));
}

}  // namespace pe_loader_test
