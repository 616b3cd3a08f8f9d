// A PE32 i386 DLL mapped into this 32-bit Linux process and started as the
// Windows loader would start it: sections at their addresses, relocated if
// the preferred base is taken, imports bound to the loader's own functions,
// a thread block in %fs, TLS set up, TLS callbacks and the entry point run
// with process-attach. Destroying it runs them with process-detach and
// unmaps it. A test host, not an emulator: the DLL must import only what
// the resolver it is loaded with knows (dll.h: the loader's own functions).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "load_error.h"
#include "pe_format.h"

namespace pe_loader {

// The function that implements `name` of `dll`, or nullptr.
typedef const void* (*ImportResolver)(const std::string& dll, const std::string& name);

class LoadedImage {
public:
    // Throws LoadError naming the file: not a PE32 i386 DLL, a malformed
    // image, an import `resolve` has no function for, or an entry point
    // that reports failure.
    static std::unique_ptr<LoadedImage> load(const std::string& path, ImportResolver resolve);
    ~LoadedImage();
    LoadedImage(const LoadedImage&) = delete;
    LoadedImage& operator=(const LoadedImage&) = delete;

    uint8_t* base() const { return base_; }
    uint32_t size() const { return size_; }
    bool at_preferred_base() const { return delta_ == 0; }
    bool contains(const void* address) const;
    // Whether `address` lies in a section of code (one mapped executable).
    bool in_code(const void* address) const;
    const std::string& path() const { return path_; }
    // The module name in the export directory ("" if it has none).
    const std::string& export_name() const { return export_name_; }

    // Exports; nullptr when there is none. The export table is read, and
    // checked to lie in the image, when the DLL is loaded.
    void* export_by_name(const std::string& name) const;
    void* export_by_ordinal(uint32_t ordinal) const;
    // A function or variable of the file's COFF symbol table by its
    // (decorated) name, for tests that reach inside the DLL; nullptr when the
    // file carries no such symbol.
    void* symbol(const std::string& name) const;

    // For VirtualQuery and VirtualProtect: the page protections as the
    // DLL's system calls see them (Windows PAGE_* values).
    uint32_t page_protection(const void* address) const;
    // Region of equal protection from `address` on, in bytes.
    uint32_t region_size(const void* address) const;
    bool change_protection(const void* address, uint32_t size, uint32_t protection, uint32_t* previous);

    // The loaded image whose mapping holds `address`, or the one whose
    // export name matches (case-insensitively), or nullptr.
    static LoadedImage* containing(const void* address);
    static LoadedImage* named(const std::string& name);
    static LoadedImage* at(const void* base);

private:
    LoadedImage(std::string path, std::vector<uint8_t> file);
    [[noreturn]] void fail(const std::string& what) const;
    // `count` objects at `rva`, which must lie in the image; `what` names
    // them in the message.
    template <typename T>
    T* at_rva(uint32_t rva, uint32_t count = 1, const char* what = "reference") const;
    // The NUL-terminated string at `rva`, which must end inside the image;
    // `what` names it in the message.
    std::string string_at(uint32_t rva, const std::string& what) const;
    // The RVA of a code address the image gives (an absolute address when
    // `absolute`); fails, naming `what`, unless it lies in a code section.
    uint32_t code_rva(uint32_t address, bool absolute, const std::string& what) const;
    const SectionHeader* section_of(uint32_t rva) const;

    void check_headers();
    void map();
    void copy_sections();
    void relocate();
    void bind_imports(ImportResolver resolve);
    void read_exports();
    void protect_sections();
    void set_up_tls();
    void check_start_up();
    void run_start_up(uint32_t reason);

    std::string path_;
    std::vector<uint8_t> file_;
    const NtHeaders* headers_ = nullptr;
    const SectionHeader* sections_ = nullptr;
    uint8_t* base_ = nullptr;
    uint32_t size_ = 0;
    int32_t delta_ = 0;
    std::string export_name_;
    std::vector<uint32_t> export_functions_;  // RVAs by ordinal - base; 0: none, or forwarded
    uint32_t ordinal_base_ = 0;
    std::vector<std::pair<std::string, uint32_t>> export_names_;  // name, index into export_functions_
    std::vector<uint32_t> page_protections_;
    int tls_index_ = -1;
    void* tls_block_ = nullptr;
    std::vector<uint32_t> tls_callbacks_;  // RVAs, checked to be code
    bool attached_ = false;
};

}  // namespace pe_loader
