// A damaged DLL is refused with a reason, and the loader reads and writes
// nothing outside its image: names that run to the image's end, tables and
// code addresses outside it. On a small DLL made here, so that each field
// can be damaged alone, followed by an inaccessible page, so that a read
// past the image's end faults instead of passing unseen.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <vector>

#include "dll_under_test.h"
#include "pe_loader/dll.h"
#include "pe_loader/pe_format.h"

namespace pe_loader_test {
namespace {

using namespace pe_loader;

constexpr uint32_t kBase = 0x4f000000;
constexpr uint32_t kCode = 0x1000;  // .text: two stubs
constexpr uint32_t kData = 0x2000;  // .data: every table and name
constexpr uint32_t kImageSize = 0x3000;
constexpr uint32_t kHeadersSize = 0x400;

// Where things lie in .data, as RVAs.
constexpr uint32_t kExports = kData, kExportFunctions = kData + 0x40, kExportNames = kData + 0x50,
                   kExportOrdinals = kData + 0x60, kModuleName = kData + 0x70, kProbeName = kData + 0x80,
                   kImports = kData + 0x100, kImportNames = kData + 0x140, kImportAddresses = kData + 0x150,
                   kSleepHint = kData + 0x160, kKernelName = kData + 0x180, kTls = kData + 0x200,
                   kTlsCallbacks = kData + 0x220, kTlsIndex = kData + 0x230, kTlsTemplate = kData + 0x240;
// The last bytes of the image, no terminator among them.
constexpr uint32_t kRunOn = kImageSize - 16;

constexpr uint32_t kProbe = kCode;           // mov eax, 1234; ret
constexpr uint32_t kStartUp = kCode + 0x10;  // mov eax, 1; ret 12

// The DLL as bytes, with views of its fields to damage.
class TinyDll {
public:
    TinyDll() : file_(kHeadersSize + 0x2000) {
        auto& dos = at<DosHeader>(0);
        dos.magic = kDosMagic;
        dos.pe_header_offset = 0x80;
        auto& headers = at<NtHeaders>(0x80);
        headers.signature = kPeSignature;
        headers.file = {kMachineI386, 2, 0, 0, 0, static_cast<uint16_t>(sizeof(OptionalHeader32)),
                        static_cast<uint16_t>(kFileExecutableImage | kFileDll)};
        OptionalHeader32& optional = headers.optional;
        optional.magic = kOptionalMagicPe32;
        optional.entry_point = kStartUp;
        optional.image_base = kBase;
        optional.section_alignment = 0x1000;
        optional.file_alignment = 0x200;
        optional.image_size = kImageSize;
        optional.headers_size = kHeadersSize;
        optional.directory_count = 16;
        optional.directories[kDirectoryExport] = {kExports, 0x90};
        optional.directories[kDirectoryImport] = {kImports, 40};
        optional.directories[kDirectoryTls] = {kTls, sizeof(TlsDirectory)};
        const uint32_t section_table = 0x80 + sizeof(NtHeaders);
        at<SectionHeader>(section_table) = {".text", 0x1000, kCode, 0x1000, kHeadersSize, 0, 0, 0, 0,
                                            kSectionExecute | kSectionRead};
        at<SectionHeader>(section_table + sizeof(SectionHeader)) = {
            ".data", 0x1000, kData, 0x1000, kHeadersSize + 0x1000, 0, 0, 0, 0, kSectionRead | kSectionWrite};

        const uint8_t probe[] = {0xB8, 0xD2, 0x04, 0x00, 0x00, 0xC3};
        const uint8_t start_up[] = {0xB8, 0x01, 0x00, 0x00, 0x00, 0xC2, 0x0C, 0x00};
        std::memcpy(byte(kProbe), probe, sizeof probe);
        std::memcpy(byte(kStartUp), start_up, sizeof start_up);

        exports() = {0, 0, {0, 0}, kModuleName, 1, 1, 1, kExportFunctions, kExportNames, kExportOrdinals};
        word(kExportFunctions) = kProbe;
        word(kExportNames) = kProbeName;
        text(kModuleName, "tiny.dll");
        text(kProbeName, "Probe");

        imports() = {kImportNames, 0, 0, kKernelName, kImportAddresses};
        word(kImportNames) = kSleepHint;
        word(kImportAddresses) = kSleepHint;
        text(kSleepHint + 2, "Sleep");
        text(kKernelName, "KERNEL32.dll");

        tls() = {kBase + kTlsTemplate, kBase + kTlsTemplate + 4, kBase + kTlsIndex, kBase + kTlsCallbacks, 0, 0};
        word(kTlsCallbacks) = kBase + kStartUp;

        std::memset(byte(kRunOn), 'A', kImageSize - kRunOn);
    }

    NtHeaders& headers() { return at<NtHeaders>(0x80); }
    ExportDirectory& exports() { return at<ExportDirectory>(offset(kExports)); }
    ImportDescriptor& imports() { return at<ImportDescriptor>(offset(kImports)); }
    TlsDirectory& tls() { return at<TlsDirectory>(offset(kTls)); }
    uint32_t& word(uint32_t rva) { return at<uint32_t>(offset(rva)); }
    uint16_t& half(uint32_t rva) { return at<uint16_t>(offset(rva)); }
    const std::vector<uint8_t>& bytes() const { return file_; }

private:
    // Sections lie in the file in the order of their RVAs, right after
    // the headers.
    static uint32_t offset(uint32_t rva) { return kHeadersSize + rva - kCode; }
    uint8_t* byte(uint32_t rva) { return &file_[offset(rva)]; }
    void text(uint32_t rva, const char* value) { std::memcpy(byte(rva), value, std::strlen(value) + 1); }
    template <typename T>
    T& at(uint32_t position) {
        return *reinterpret_cast<T*>(&file_[position]);
    }

    std::vector<uint8_t> file_;
};

// An inaccessible page right after where the image will be mapped, for the
// whole test program.
void guard_the_image_end() {
    static const bool guarded = [] {
        void* end = reinterpret_cast<void*>(uintptr_t{kBase + kImageSize});
        return mmap(end, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0) == end;
    }();
    ASSERT_TRUE(guarded) << "the page after the test image's place is taken";
}

TEST(ImageBounds, TheUndamagedDllLoadsRunsItsStartUpAndExportsItsProbe) {
    guard_the_image_end();
    const std::vector<uint8_t> file = TinyDll().bytes();
    char path[] = "/tmp/pe_loader_tinyXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, file.data(), file.size()), static_cast<ssize_t>(file.size()));
    close(fd);
    const std::unique_ptr<LoadedImage> image = pe_loader::load_dll(path);
    unlink(path);
    ASSERT_TRUE(image->at_preferred_base());
    EXPECT_EQ(image->export_name(), "tiny.dll");
    auto probe = reinterpret_cast<int (*)()>(image->export_by_name("Probe"));
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe(), 1234);
    EXPECT_TRUE(image->in_code(reinterpret_cast<void*>(probe)));
    EXPECT_FALSE(image->in_code(image->base() + kData));
}

// Each damage, and a part of the message that names it.
struct Damage {
    const char* what;
    std::function<void(TinyDll&)> apply;
    const char* message;
};

void expect_refused(const Damage& damage) {
    guard_the_image_end();
    TinyDll dll;
    damage.apply(dll);
    const std::string message = refusal(dll.bytes());
    EXPECT_NE(message.find(damage.message), std::string::npos) << damage.what << ": " << message;
}

TEST(ImageBounds, NamesThatRunToTheImagesEndAreRefused) {
    const Damage damages[] = {
        {"imported DLL name", [](TinyDll& d) { d.imports().dll_name = kRunOn; },
         "the name of an imported DLL at 0x2ff0 runs past the end of the image"},
        {"import name", [](TinyDll& d) { d.word(kImportNames) = kRunOn - 2; },
         "the name of an import from KERNEL32.dll at 0x2ff0 runs past the end of the image"},
        {"export directory name", [](TinyDll& d) { d.exports().name = kRunOn; },
         "the export directory's name at 0x2ff0 runs past the end of the image"},
        {"export name", [](TinyDll& d) { d.word(kExportNames) = kRunOn; },
         "an export's name at 0x2ff0 runs past the end of the image"},
        {"import name beyond the image", [](TinyDll& d) { d.word(kImportNames) = 0x7ffffff0; },
         "the name of an import from KERNEL32.dll at 0x7ffffff2 lies outside the image"},
    };
    for (const Damage& damage : damages) expect_refused(damage);
}

TEST(ImageBounds, ExportTablesOutsideTheImageAndHugeCountsAreRefused) {
    const Damage damages[] = {
        {"name table", [](TinyDll& d) { d.exports().names = kImageSize - 2; }, "the export name table at 0x2ffe"},
        {"ordinal table", [](TinyDll& d) { d.exports().name_ordinals = 0x10000000; },
         "the export ordinal table at 0x10000000 lies outside the image"},
        {"function count", [](TinyDll& d) { d.exports().function_count = 0x40000000; },
         "the export table at 0x2040 lies outside the image"},
        {"name count", [](TinyDll& d) { d.exports().name_count = 0xffffffff; },
         "the export name table at 0x2050 lies outside the image"},
        {"function address", [](TinyDll& d) { d.word(kExportFunctions) = kImageSize; },
         "export 1 at 0x3000 lies outside the image"},
        {"ordinal index", [](TinyDll& d) { d.half(kExportOrdinals) = 7; },
         "export Probe has index 7, past the 1 exports"},
    };
    for (const Damage& damage : damages) expect_refused(damage);
}

// The entry point and TLS callbacks run at once: each must lie in the
// image's code, and the callback list must end inside the image. A TLS
// failure never leaves a half-attached image behind for the destructor.
TEST(ImageBounds, StartUpCodeOutsideTheImagesCodeIsRefused) {
    const Damage damages[] = {
        {"entry point outside", [](TinyDll& d) { d.headers().optional.entry_point = 0x00900000; },
         "its entry point at 0x900000 lies outside the image"},
        {"entry point in data", [](TinyDll& d) { d.headers().optional.entry_point = kData; },
         "its entry point at 0x2000 lies outside its code"},
        {"callback list outside", [](TinyDll& d) { d.tls().callbacks = kBase + 0x100000; },
         "the TLS callback list at 0x100000 lies outside the image"},
        {"callback list without its end",
         [](TinyDll& d) {
             d.tls().callbacks = kBase + kImageSize - 4;
             d.word(kImageSize - 4) = kBase + kStartUp;
         },
         "the TLS callback list at 0x3000 lies outside the image"},
        {"callback in data", [](TinyDll& d) { d.word(kTlsCallbacks) = kBase + kData; },
         "TLS callback 0 at 0x2000 lies outside its code"},
        {"callback before the image", [](TinyDll& d) { d.word(kTlsCallbacks) = kBase - 16; },
         "TLS callback 0 at 0xfffffff0 lies outside the image"},
        {"TLS block size", [](TinyDll& d) { d.tls().zero_fill_size = 0xfffffffe; }, "is not credible"},
    };
    for (const Damage& damage : damages) expect_refused(damage);
}

}  // namespace
}  // namespace pe_loader_test
