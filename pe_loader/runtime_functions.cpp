#include "runtime_functions.h"

#include <unistd.h>

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The DLL's code keeps the stack 4-byte aligned; ours may assume 16.
#define FROM_DLL __attribute__((force_align_arg_pointer))

namespace pe_loader {
namespace {

// The runtime's FILE, of which the DLL only takes addresses: stdin, stdout
// and stderr are the first three elements of the exported _iob array.
struct RuntimeFile {
    char* pointer;
    int count;
    char* buffer;
    int flags;
    int descriptor;
    int character_buffer;
    int buffer_size;
    char* temporary_name;
};
static_assert(sizeof(RuntimeFile) == 32, "the runtime's FILE");

RuntimeFile standard_files[3] = {{nullptr, 0, nullptr, 0, 0, 0, 0, nullptr},
                                 {nullptr, 0, nullptr, 0, 1, 0, 0, nullptr},
                                 {nullptr, 0, nullptr, 0, 2, 0, 0, nullptr}};

std::FILE* host_stream(RuntimeFile* file) {
    if (file == &standard_files[0]) return stdin;
    if (file == &standard_files[1]) return stdout;
    if (file == &standard_files[2]) return stderr;
    std::fprintf(stderr, "pe_loader: the DLL passed a FILE that is none of stdin, stdout, stderr\n");
    std::abort();
}

FROM_DLL void runtime_exit_with_message(int code) {
    std::fprintf(stderr, "pe_loader: the DLL's runtime gave up with error %d\n", code);
    _exit(255);
}

typedef void (*Initialiser)();

FROM_DLL void run_initialisers(Initialiser* begin, Initialiser* end) {
    for (Initialiser* entry = begin; entry < end; ++entry)
        if (*entry) (*entry)();
}

// The runtime's locks guard its streams and heap between threads; the DLL
// runs on one thread here.
FROM_DLL void lock_nothing(int) {}

FROM_DLL size_t write_to(const void* data, size_t size, size_t count, RuntimeFile* file) {
    return std::fwrite(data, size, count, host_stream(file));
}

FROM_DLL int format_to(RuntimeFile* file, const char* format, va_list arguments) {
    return std::vfprintf(host_stream(file), format, arguments);
}

FROM_DLL double next_after(double from, double towards) {
    return std::nextafter(from, towards);
}

}  // namespace

const std::vector<Import>& runtime_functions() {
    static const std::vector<Import> table = {
        {"_amsg_exit", reinterpret_cast<const void*>(&runtime_exit_with_message)},
        {"_initterm", reinterpret_cast<const void*>(&run_initialisers)},
        {"_iob", standard_files},
        {"_lock", reinterpret_cast<const void*>(&lock_nothing)},
        {"_unlock", reinterpret_cast<const void*>(&lock_nothing)},
        {"_nextafter", reinterpret_cast<const void*>(&next_after)},
        {"abort", reinterpret_cast<const void*>(&std::abort)},
        {"calloc", reinterpret_cast<const void*>(&std::calloc)},
        {"free", reinterpret_cast<const void*>(&std::free)},
        {"malloc", reinterpret_cast<const void*>(&std::malloc)},
        {"realloc", reinterpret_cast<const void*>(&std::realloc)},
        {"fwrite", reinterpret_cast<const void*>(&write_to)},
        {"vfprintf", reinterpret_cast<const void*>(&format_to)},
        {"strlen", reinterpret_cast<const void*>(static_cast<size_t (*)(const char*)>(&std::strlen))},
        {"strncmp", reinterpret_cast<const void*>(static_cast<int (*)(const char*, const char*, size_t)>(&std::strncmp))},
    };
    return table;
}

}  // namespace pe_loader
