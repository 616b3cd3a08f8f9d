// The parts of the PE32 file format the loader reads, as they lie in the
// file and in the mapped image. All fields are little-endian; the loader runs
// on i386 only, so they are read in place.
#pragma once

#include <cstdint>

namespace pe_loader {

constexpr uint16_t kDosMagic = 0x5a4d;          // "MZ"
constexpr uint32_t kPeSignature = 0x00004550;   // "PE\0\0"
constexpr uint16_t kMachineI386 = 0x014c;
constexpr uint16_t kOptionalMagicPe32 = 0x010b;
constexpr uint16_t kFileExecutableImage = 0x0002;
constexpr uint16_t kFileDll = 0x2000;

constexpr uint32_t kSectionExecute = 0x20000000;
constexpr uint32_t kSectionRead = 0x40000000;
constexpr uint32_t kSectionWrite = 0x80000000;

constexpr uint16_t kRelocationAbsolute = 0;  // padding of a relocation block
constexpr uint16_t kRelocationHighLow = 3;   // a 32-bit address

constexpr uint32_t kImportByOrdinal = 0x80000000;

enum DirectoryIndex { kDirectoryExport = 0, kDirectoryImport = 1, kDirectoryRelocation = 5, kDirectoryTls = 9 };

struct DosHeader {
    uint16_t magic;
    uint16_t unused[29];
    int32_t pe_header_offset;
};

struct FileHeader {
    uint16_t machine;
    uint16_t section_count;
    uint32_t time_stamp;
    uint32_t symbol_table_offset;
    uint32_t symbol_count;
    uint16_t optional_header_size;
    uint16_t characteristics;
};

struct DataDirectory {
    uint32_t rva;
    uint32_t size;
};

struct OptionalHeader32 {
    uint16_t magic;
    uint8_t linker_version[2];
    uint32_t code_size;
    uint32_t initialised_data_size;
    uint32_t uninitialised_data_size;
    uint32_t entry_point;
    uint32_t code_base;
    uint32_t data_base;
    uint32_t image_base;
    uint32_t section_alignment;
    uint32_t file_alignment;
    uint16_t versions[6];
    uint32_t win32_version;
    uint32_t image_size;
    uint32_t headers_size;
    uint32_t checksum;
    uint16_t subsystem;
    uint16_t dll_characteristics;
    uint32_t stack_reserve;
    uint32_t stack_commit;
    uint32_t heap_reserve;
    uint32_t heap_commit;
    uint32_t loader_flags;
    uint32_t directory_count;
    DataDirectory directories[16];
};

struct NtHeaders {
    uint32_t signature;
    FileHeader file;
    OptionalHeader32 optional;
};

struct SectionHeader {
    char name[8];
    uint32_t virtual_size;
    uint32_t rva;
    uint32_t raw_size;
    uint32_t raw_offset;
    uint32_t relocations_offset;
    uint32_t line_numbers_offset;
    uint16_t relocation_count;
    uint16_t line_number_count;
    uint32_t characteristics;
};

struct ImportDescriptor {
    uint32_t name_table;  // RVA of the hint/name thunks; 0 in some linkers' output
    uint32_t time_stamp;
    uint32_t forwarder_chain;
    uint32_t dll_name;
    uint32_t address_table;
};

struct ExportDirectory {
    uint32_t characteristics;
    uint32_t time_stamp;
    uint16_t versions[2];
    uint32_t name;
    uint32_t ordinal_base;
    uint32_t function_count;
    uint32_t name_count;
    uint32_t functions;
    uint32_t names;
    uint32_t name_ordinals;
};

struct RelocationBlock {
    uint32_t page_rva;
    uint32_t size;  // of the block, header included
};

struct TlsDirectory {
    uint32_t template_start;  // addresses, not RVAs: relocated like any other
    uint32_t template_end;
    uint32_t index_address;
    uint32_t callbacks;
    uint32_t zero_fill_size;
    uint32_t characteristics;
};

#pragma pack(push, 2)
struct CoffSymbol {
    union {
        char short_name[8];
        struct {
            uint32_t zeroes;
            uint32_t string_offset;
        } long_name;
    } name;
    uint32_t value;
    int16_t section;
    uint16_t type;
    uint8_t storage_class;
    uint8_t aux_count;
};
#pragma pack(pop)

static_assert(sizeof(DosHeader) == 64, "DOS header");
static_assert(sizeof(FileHeader) == 20, "file header");
static_assert(sizeof(OptionalHeader32) == 224, "PE32 optional header");
static_assert(sizeof(SectionHeader) == 40, "section header");
static_assert(sizeof(ExportDirectory) == 40, "export directory");
static_assert(sizeof(TlsDirectory) == 24, "TLS directory");
static_assert(sizeof(CoffSymbol) == 18, "COFF symbol");

}  // namespace pe_loader
