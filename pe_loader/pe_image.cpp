#include "pe_image.h"

#include <strings.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "call_guard.h"
#include "exception_dispatch.h"
#include "thread_block.h"
#include "windows_abi.h"

namespace pe_loader {
namespace {

constexpr uint32_t kPageSize = 4096;
// Larger TLS blocks than this are taken for a damaged directory.
constexpr uint64_t kMaxTlsBlock = uint64_t{64} << 20;

std::vector<LoadedImage*>& loaded_images() {
    static std::vector<LoadedImage*> images;
    return images;
}

uint32_t round_up_to_page(uint32_t size) {
    return (size + kPageSize - 1) & ~(kPageSize - 1);
}

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// A name from the image as a message shows it: printable, and not longer
// than a line, whatever a damaged file holds there.
std::string shown(const std::string& name) {
    constexpr size_t kLongest = 64;
    std::string text;
    for (size_t i = 0; i < name.size() && i < kLongest; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c >= 0x20 && c < 0x7f) {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            text += escaped;
        }
    }
    return name.size() > kLongest ? text + "..." : text;
}

uint32_t windows_protection(uint32_t characteristics) {
    const bool read = characteristics & kSectionRead, write = characteristics & kSectionWrite,
               execute = characteristics & kSectionExecute;
    if (execute) return write ? kPageExecuteReadWrite : read ? kPageExecuteRead : kPageExecute;
    if (write) return kPageReadWrite;
    return read ? kPageReadOnly : kPageNoAccess;
}

int posix_protection(uint32_t protection) {
    switch (protection) {
    case kPageReadOnly: return PROT_READ;
    case kPageReadWrite:
    case kPageWriteCopy: return PROT_READ | PROT_WRITE;
    case kPageExecute:
    case kPageExecuteRead: return PROT_READ | PROT_EXEC;
    case kPageExecuteReadWrite:
    case kPageExecuteWriteCopy: return PROT_READ | PROT_WRITE | PROT_EXEC;
    case kPageNoAccess: return PROT_NONE;
    default: return -1;
    }
}

typedef int32_t(PE_STDCALL* StartUpRoutine)(void* module, uint32_t reason, void* reserved);

}  // namespace

std::unique_ptr<LoadedImage> LoadedImage::load(const std::string& path, ImportResolver resolve) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw LoadError(path + ": cannot open the file");
    std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::unique_ptr<LoadedImage> image(new LoadedImage(path, std::move(file)));
    image->check_headers();
    image->map();
    image->copy_sections();
    image->relocate();
    image->bind_imports(resolve);
    image->read_exports();
    image->set_up_tls();
    image->check_start_up();
    image->protect_sections();
    thread_block();
    dispatch_faults_in(image->base_, image->base_ + image->size_);
    loaded_images().push_back(image.get());
    image->attached_ = true;
    image->run_start_up(kDllProcessAttach);
    return image;
}

LoadedImage::LoadedImage(std::string path, std::vector<uint8_t> file)
    : path_(std::move(path)), file_(std::move(file)) {}

LoadedImage::~LoadedImage() {
    if (attached_) run_start_up(kDllProcessDetach);
    auto& images = loaded_images();
    images.erase(std::remove(images.begin(), images.end(), this), images.end());
    if (base_) forget_image(base_, base_ + size_);
    if (tls_index_ >= 0) release_tls_index(tls_index_);
    std::free(tls_block_);
    if (base_) munmap(base_, size_);
}

void LoadedImage::fail(const std::string& what) const {
    throw LoadError(path_ + ": " + what);
}

template <typename T>
T* LoadedImage::at_rva(uint32_t rva, uint32_t count, const char* what) const {
    if (rva > size_ || (size_ - rva) / sizeof(T) < count)
        fail(std::string(what) + " at " + hex(rva) + " lies outside the image");
    return reinterpret_cast<T*>(base_ + rva);
}

// Read while the whole image is mapped readable, before its sections get
// their protection.
std::string LoadedImage::string_at(uint32_t rva, const std::string& what) const {
    if (rva >= size_) fail(what + " at " + hex(rva) + " lies outside the image");
    const void* end = std::memchr(base_ + rva, 0, size_ - rva);
    if (!end) fail(what + " at " + hex(rva) + " runs past the end of the image");
    return std::string(reinterpret_cast<const char*>(base_ + rva), static_cast<const uint8_t*>(end) - (base_ + rva));
}

const SectionHeader* LoadedImage::section_of(uint32_t rva) const {
    for (int i = 0; i < headers_->file.section_count; ++i) {
        const SectionHeader& section = sections_[i];
        if (rva >= section.rva && rva - section.rva < std::max(section.virtual_size, section.raw_size)) return &section;
    }
    return nullptr;
}

uint32_t LoadedImage::code_rva(uint32_t address, bool absolute, const std::string& what) const {
    const uint32_t rva = absolute ? address - static_cast<uint32_t>(reinterpret_cast<uintptr_t>(base_)) : address;
    if (rva >= size_) fail(what + " at " + hex(rva) + " lies outside the image");
    const SectionHeader* section = section_of(rva);
    if (!section || !(section->characteristics & kSectionExecute))
        fail(what + " at " + hex(rva) + " lies outside its code");
    return rva;
}

// Everything is checked against the file before anything is mapped, so a
// damaged file is refused with a reason instead of crashing the loader.
void LoadedImage::check_headers() {
    const auto* dos = reinterpret_cast<const DosHeader*>(file_.data());
    if (file_.size() < sizeof(DosHeader) || dos->magic != kDosMagic) fail("not a PE image (no MZ header)");
    const uint32_t offset = static_cast<uint32_t>(dos->pe_header_offset);
    if (offset > file_.size() || file_.size() - offset < sizeof(NtHeaders))
        fail("not a PE image (the PE header lies outside the file)");
    headers_ = reinterpret_cast<const NtHeaders*>(file_.data() + offset);
    const FileHeader& header = headers_->file;
    const OptionalHeader32& optional = headers_->optional;
    if (headers_->signature != kPeSignature) fail("not a PE image (no PE signature)");
    if (header.machine != kMachineI386) fail("not an i386 image (machine " + hex(header.machine) + ")");
    if (header.optional_header_size < sizeof(OptionalHeader32) || optional.magic != kOptionalMagicPe32)
        fail("not a PE32 image (optional header magic " + hex(optional.magic) + ")");
    if (!(header.characteristics & kFileExecutableImage) || !(header.characteristics & kFileDll))
        fail("not a DLL (characteristics " + hex(header.characteristics) + ")");
    if (optional.section_alignment % kPageSize != 0)
        fail("section alignment " + hex(optional.section_alignment) + " is not a multiple of the page size");
    if (optional.directory_count <= kDirectoryTls) fail("too few data directories");
    if (optional.image_size == 0 || optional.headers_size > optional.image_size ||
        optional.headers_size > file_.size())
        fail("image size or header size out of range");
    const size_t sections_offset = offset + 4 + sizeof(FileHeader) + header.optional_header_size;
    if (sections_offset + size_t{header.section_count} * sizeof(SectionHeader) > file_.size())
        fail("the section table lies outside the file");
    sections_ = reinterpret_cast<const SectionHeader*>(file_.data() + sections_offset);
    size_ = round_up_to_page(optional.image_size);
    for (int i = 0; i < header.section_count; ++i) {
        const SectionHeader& section = sections_[i];
        const uint32_t extent = std::max(section.virtual_size, section.raw_size);
        if (section.rva % kPageSize != 0 || section.rva > size_ || extent > size_ - section.rva)
            fail("section " + std::string(section.name, strnlen(section.name, 8)) + " lies outside the image");
        if (section.raw_size && (section.raw_offset > file_.size() || section.raw_size > file_.size() - section.raw_offset))
            fail("section " + std::string(section.name, strnlen(section.name, 8)) + " lies beyond the end of the file");
    }
}

// At the preferred base when the address space there is free, else wherever
// the system puts it (relocate() then moves every address).
void LoadedImage::map() {
    void* preferred = reinterpret_cast<void*>(uintptr_t{headers_->optional.image_base});
    void* where = mmap(preferred, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (where == MAP_FAILED) fail("cannot map " + std::to_string(size_) + " bytes");
    base_ = static_cast<uint8_t*>(where);
    delta_ = static_cast<int32_t>(reinterpret_cast<uintptr_t>(where) - headers_->optional.image_base);
}

void LoadedImage::copy_sections() {
    std::memcpy(base_, file_.data(), headers_->optional.headers_size);
    for (int i = 0; i < headers_->file.section_count; ++i) {
        const SectionHeader& section = sections_[i];
        const uint32_t bytes = section.virtual_size ? std::min(section.raw_size, section.virtual_size) : section.raw_size;
        std::memcpy(base_ + section.rva, file_.data() + section.raw_offset, bytes);
    }
}

void LoadedImage::relocate() {
    if (delta_ == 0) return;
    const DataDirectory& directory = headers_->optional.directories[kDirectoryRelocation];
    if (directory.size == 0) fail("its preferred base is taken and it has no relocations");
    uint32_t offset = 0;
    while (offset + sizeof(RelocationBlock) <= directory.size) {
        const auto* block = at_rva<RelocationBlock>(directory.rva + offset);
        if (block->size < sizeof(RelocationBlock) || block->size > directory.size - offset)
            fail("malformed relocation block at " + hex(directory.rva + offset));
        const uint32_t count = (block->size - sizeof(RelocationBlock)) / 2;
        const auto* entries = at_rva<uint16_t>(directory.rva + offset + sizeof(RelocationBlock), count);
        for (uint32_t i = 0; i < count; ++i) {
            const uint16_t type = entries[i] >> 12;
            const uint32_t target = block->page_rva + (entries[i] & 0x0fff);
            if (type == kRelocationAbsolute) continue;
            if (type != kRelocationHighLow) fail("relocation type " + std::to_string(type) + " is not supported");
            *at_rva<uint32_t>(target) += static_cast<uint32_t>(delta_);
        }
        offset += block->size;
    }
}

void LoadedImage::bind_imports(ImportResolver resolve) {
    const DataDirectory& directory = headers_->optional.directories[kDirectoryImport];
    if (directory.size == 0) return;
    for (uint32_t d = 0;; ++d) {
        const auto* descriptor = at_rva<ImportDescriptor>(directory.rva + d * sizeof(ImportDescriptor), 1,
                                                          "the import directory");
        if (descriptor->dll_name == 0) break;
        const std::string dll = string_at(descriptor->dll_name, "the name of an imported DLL");
        const uint32_t names_rva = descriptor->name_table ? descriptor->name_table : descriptor->address_table;
        for (uint32_t i = 0;; ++i) {
            const uint32_t thunk = *at_rva<uint32_t>(names_rva + 4 * i, 1, "the import name table");
            if (thunk == 0) break;
            if (thunk & kImportByOrdinal)
                fail("imports ordinal " + std::to_string(thunk & 0xffff) + " of " + shown(dll) +
                     "; the loader binds imports by name only");
            const std::string name = string_at(thunk + 2, "the name of an import from " + shown(dll));
            const void* function = resolve(dll, name);
            if (!function)
                fail("imports " + shown(name) + " from " + shown(dll) + ", which the loader does not implement");
            *at_rva<uint32_t>(descriptor->address_table + 4 * i, 1, "the import address table") =
                reinterpret_cast<uintptr_t>(function);
        }
    }
}

// Once, at load: the DLL's code never changes its export table, and the
// lookups later need not read the image again.
void LoadedImage::read_exports() {
    const DataDirectory& directory = headers_->optional.directories[kDirectoryExport];
    if (directory.size == 0) return;
    const auto* exports = at_rva<ExportDirectory>(directory.rva, 1, "the export directory");
    export_name_ = string_at(exports->name, "the export directory's name");
    ordinal_base_ = exports->ordinal_base;
    const uint32_t* functions = at_rva<uint32_t>(exports->functions, exports->function_count, "the export table");
    for (uint32_t i = 0; i < exports->function_count; ++i) {
        const uint32_t rva = functions[i];
        // An address inside the export directory forwards to another DLL.
        const bool forwarded = rva >= directory.rva && rva - directory.rva < directory.size;
        if (rva >= size_ && !forwarded)
            fail("export " + std::to_string(ordinal_base_ + i) + " at " + hex(rva) + " lies outside the image");
        export_functions_.push_back(forwarded ? 0 : rva);
    }
    const uint32_t* names = at_rva<uint32_t>(exports->names, exports->name_count, "the export name table");
    const uint16_t* indices = at_rva<uint16_t>(exports->name_ordinals, exports->name_count, "the export ordinal table");
    for (uint32_t i = 0; i < exports->name_count; ++i) {
        const std::string name = string_at(names[i], "an export's name");
        if (indices[i] >= exports->function_count)
            fail("export " + shown(name) + " has index " + std::to_string(indices[i]) + ", past the " +
                 std::to_string(exports->function_count) + " exports");
        export_names_.emplace_back(name, indices[i]);
    }
}

void LoadedImage::protect_sections() {
    page_protections_.assign(size_ / kPageSize, kPageReadOnly);
    for (int i = 0; i < headers_->file.section_count; ++i) {
        const SectionHeader& section = sections_[i];
        const uint32_t pages = round_up_to_page(std::max(section.virtual_size, section.raw_size)) / kPageSize;
        std::fill_n(page_protections_.begin() + section.rva / kPageSize, pages,
                    windows_protection(section.characteristics));
    }
    for (uint32_t page = 0; page < page_protections_.size(); ++page) {
        if (mprotect(base_ + page * kPageSize, kPageSize, posix_protection(page_protections_[page])) != 0)
            fail("cannot set the protection of page " + hex(page * kPageSize));
    }
}

void LoadedImage::set_up_tls() {
    const DataDirectory& directory = headers_->optional.directories[kDirectoryTls];
    if (directory.size == 0) return;
    const auto* tls = at_rva<TlsDirectory>(directory.rva, 1, "the TLS directory");
    const uint32_t base = reinterpret_cast<uintptr_t>(base_);
    if (tls->template_end < tls->template_start || tls->template_start < base) fail("malformed TLS directory");
    const uint32_t template_size = tls->template_end - tls->template_start;
    const auto* initial = at_rva<uint8_t>(tls->template_start - base, template_size, "the TLS template");
    const uint64_t block_size = uint64_t{template_size} + tls->zero_fill_size + 1;
    if (block_size > kMaxTlsBlock) fail("a TLS block of " + std::to_string(block_size) + " bytes is not credible");
    tls_block_ = std::calloc(1, static_cast<size_t>(block_size));
    if (!tls_block_) fail("cannot allocate its TLS block");
    std::memcpy(tls_block_, initial, template_size);
    uint32_t* index = at_rva<uint32_t>(tls->index_address - base, 1, "the TLS index");
    // The callbacks are a list of addresses up to a null one, all read and
    // checked now; the list the DLL sees is not read again.
    if (tls->callbacks) {
        for (uint32_t i = 0;; ++i) {
            const uint32_t callback = *at_rva<uint32_t>(tls->callbacks - base + 4 * i, 1, "the TLS callback list");
            if (!callback) break;
            tls_callbacks_.push_back(code_rva(callback, true, "TLS callback " + std::to_string(i)));
        }
    }
    tls_index_ = claim_tls_index(tls_block_);
    if (tls_index_ < 0) fail("no TLS index left");
    *index = static_cast<uint32_t>(tls_index_);
}

void LoadedImage::check_start_up() {
    const uint32_t entry = headers_->optional.entry_point;
    if (entry) code_rva(entry, false, "its entry point");
}

// TLS callbacks first, then the entry point, for attach and detach alike.
void LoadedImage::run_start_up(uint32_t reason) {
    const CallGuard guard(path_, base_, size_, std::string("its start-up code (") +
                                     (reason == kDllProcessAttach ? "process attach" : "process detach") + ")");
    for (const uint32_t callback : tls_callbacks_)
        reinterpret_cast<StartUpRoutine>(base_ + callback)(base_, reason, nullptr);
    const uint32_t entry = headers_->optional.entry_point;
    if (entry && !reinterpret_cast<StartUpRoutine>(base_ + entry)(base_, reason, nullptr) &&
        reason == kDllProcessAttach) {
        attached_ = false;
        fail("its entry point reported failure at process attach");
    }
}

bool LoadedImage::contains(const void* address) const {
    const auto* byte = static_cast<const uint8_t*>(address);
    return byte >= base_ && byte < base_ + size_;
}

bool LoadedImage::in_code(const void* address) const {
    if (!contains(address)) return false;
    const SectionHeader* section = section_of(static_cast<uint32_t>(static_cast<const uint8_t*>(address) - base_));
    return section && (section->characteristics & kSectionExecute);
}

void* LoadedImage::export_by_ordinal(uint32_t ordinal) const {
    const uint32_t index = ordinal - ordinal_base_;
    if (ordinal < ordinal_base_ || index >= export_functions_.size() || export_functions_[index] == 0) return nullptr;
    return base_ + export_functions_[index];
}

void* LoadedImage::export_by_name(const std::string& name) const {
    for (const auto& [export_name, index] : export_names_) {
        if (export_name == name) return export_by_ordinal(ordinal_base_ + index);
    }
    return nullptr;
}

void* LoadedImage::symbol(const std::string& name) const {
    const FileHeader& header = headers_->file;
    const uint64_t table_end = uint64_t{header.symbol_table_offset} + uint64_t{header.symbol_count} * sizeof(CoffSymbol);
    if (header.symbol_table_offset == 0 || table_end + 4 > file_.size()) return nullptr;
    const auto* symbols = reinterpret_cast<const CoffSymbol*>(file_.data() + header.symbol_table_offset);
    const char* strings = reinterpret_cast<const char*>(file_.data() + table_end);
    const size_t strings_size = file_.size() - table_end;
    for (uint32_t i = 0; i < header.symbol_count; i += 1 + symbols[i].aux_count) {
        const CoffSymbol& entry = symbols[i];
        std::string entry_name;
        if (entry.name.long_name.zeroes == 0) {
            const uint32_t offset = entry.name.long_name.string_offset;
            if (offset >= strings_size) continue;
            entry_name.assign(strings + offset, strnlen(strings + offset, strings_size - offset));
        } else {
            entry_name.assign(entry.name.short_name, strnlen(entry.name.short_name, 8));
        }
        if (entry_name != name || entry.section < 1 || entry.section > header.section_count) continue;
        return base_ + sections_[entry.section - 1].rva + entry.value;
    }
    return nullptr;
}

uint32_t LoadedImage::page_protection(const void* address) const {
    return page_protections_[(static_cast<const uint8_t*>(address) - base_) / kPageSize];
}

uint32_t LoadedImage::region_size(const void* address) const {
    const uint32_t first = (static_cast<const uint8_t*>(address) - base_) / kPageSize;
    uint32_t last = first;
    while (last < page_protections_.size() && page_protections_[last] == page_protections_[first]) ++last;
    return (last - first) * kPageSize;
}

bool LoadedImage::change_protection(const void* address, uint32_t size, uint32_t protection, uint32_t* previous) {
    const int posix = posix_protection(protection);
    const uint32_t offset = static_cast<const uint8_t*>(address) - base_;
    if (posix < 0 || size == 0 || size > size_ - offset) return false;
    const uint32_t first = offset / kPageSize, end = round_up_to_page(offset + size) / kPageSize;
    if (mprotect(base_ + first * kPageSize, (end - first) * kPageSize, posix) != 0) return false;
    if (previous) *previous = page_protections_[first];
    std::fill(page_protections_.begin() + first, page_protections_.begin() + end, protection);
    return true;
}

LoadedImage* LoadedImage::containing(const void* address) {
    for (LoadedImage* image : loaded_images())
        if (image->contains(address)) return image;
    return nullptr;
}

LoadedImage* LoadedImage::named(const std::string& name) {
    for (LoadedImage* image : loaded_images())
        if (strcasecmp(image->export_name_.c_str(), name.c_str()) == 0) return image;
    return nullptr;
}

LoadedImage* LoadedImage::at(const void* base) {
    for (LoadedImage* image : loaded_images())
        if (image->base_ == base) return image;
    return nullptr;
}

}  // namespace pe_loader
