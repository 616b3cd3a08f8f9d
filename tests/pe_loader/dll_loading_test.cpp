// Loading: the exports, a second copy away from the preferred base, and the
// images the loader must refuse with a reason.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "dll_under_test.h"
#include "pe_loader/imports.h"
#include "pe_loader/pe_format.h"
#include "pe_loader/windows_abi.h"
#include "support/synthetic_frames.h"
#include "support/test_host.h"

namespace pe_loader_test {
namespace {

using pe_loader::LoadedImage;
using pe_loader::load_dll;

TEST(DllLoading, GetFilterTableByNameAndByOrdinalOne) {
    void* by_name = dll().export_by_name("GetFilterTable");
    ASSERT_NE(by_name, nullptr);
    EXPECT_EQ(dll().export_by_ordinal(1), by_name);
    EXPECT_EQ(dll().export_by_ordinal(2), nullptr);
    EXPECT_EQ(dll().export_name(), "zeverive.auf");
    EXPECT_EQ(dll_record(), dll_record());
}

TEST(DllLoading, SecondCopyIsRelocatedAndWorks) {
    dll();
    const auto copy = load_dll(dll_path());
    EXPECT_FALSE(copy->at_preferred_base());
    auto* record = reinterpret_cast<FilterTable* (*)()>(copy->export_by_ordinal(1))();
    ASSERT_TRUE(copy->contains(record));
    EXPECT_STREQ(record->display_name, dll_record()->display_name);
    EXPECT_TRUE(copy->contains(record->display_name));
    EXPECT_TRUE(copy->contains(reinterpret_cast<const void*>(record->process_frame)));

    // The kernel table and every other stored address moved with the copy.
    zeverive_test::TestFrame original(64, 48);
    zeverive_test::fill_smooth(original);
    zeverive_test::add_noise(original, 40, 5);
    zeverive_test::TestFrame from_copy = original, from_first = original;
    for (auto [table, frame] : {std::pair{record, &from_copy}, std::pair{dll_record(), &from_first}}) {
        zeverive_test::TestHost host(table);
        ASSERT_EQ(table->initialise(), 1);
        host.filter.process_frame(&host.filter, &frame->info);
        EXPECT_EQ(table->finalise(), 1);
    }
    EXPECT_EQ(0, std::memcmp(from_copy.pixels.data(), from_first.pixels.data(), from_copy.pixels.size() * sizeof(YcPixel)));
    EXPECT_NE(0, std::memcmp(from_copy.pixels.data(), original.pixels.data(), from_copy.pixels.size() * sizeof(YcPixel)));
}

typedef uint32_t(PE_STDCALL* VirtualQuery)(const void* address, pe_loader::MemoryInformation* information,
                                            uint32_t length);

// Whether the system's maps let the page that holds `address` be read and
// written: "r-", "rw". (qemu reports guest code pages without "x", so
// execution is not asked.)
std::string mapped_access(const void* address) {
    std::ifstream maps("/proc/self/maps");
    const auto where = reinterpret_cast<uintptr_t>(address);
    for (std::string line; std::getline(maps, line);) {
        unsigned long begin, end;
        char permissions[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &begin, &end, permissions) == 3 && where >= begin && where < end)
            return std::string(permissions, 2);
    }
    return "unmapped";
}

TEST(DllLoading, SectionsGetTheirProtection) {
    auto query = reinterpret_cast<VirtualQuery>(pe_loader::find_import("KERNEL32.dll", "VirtualQuery"));
    const void* code = dll().export_by_name("GetFilterTable");
    const void* data = dll_record();
    const void* header = dll().base();
    pe_loader::MemoryInformation information = {};
    ASSERT_EQ(query(code, &information, sizeof information), sizeof information);
    EXPECT_EQ(information.protection, pe_loader::kPageExecuteRead);
    EXPECT_EQ(information.allocation_base, dll().base());
    EXPECT_EQ(mapped_access(code), "r-");
    ASSERT_EQ(query(data, &information, sizeof information), sizeof information);
    EXPECT_EQ(information.protection, pe_loader::kPageReadWrite);
    EXPECT_EQ(mapped_access(data), "rw");
    EXPECT_EQ(mapped_access(header), "r-");
}

std::vector<uint8_t> dll_bytes() {
    std::ifstream in(dll_path(), std::ios::binary);
    return std::vector<uint8_t>{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

pe_loader::NtHeaders& headers_of(std::vector<uint8_t>& file) {
    return *reinterpret_cast<pe_loader::NtHeaders*>(file.data() + reinterpret_cast<pe_loader::DosHeader*>(file.data())->pe_header_offset);
}

void replace_text(std::vector<uint8_t>& file, const std::string& from, const std::string& to) {
    auto at = std::search(file.begin(), file.end(), from.begin(), from.end());
    ASSERT_NE(at, file.end()) << from;
    std::copy(to.begin(), to.end(), at);
}

TEST(DllLoading, RefusesWhatIsNoPe32I386Dll) {
    std::ifstream self("/proc/self/exe", std::ios::binary);
    const std::vector<uint8_t> elf{std::istreambuf_iterator<char>(self), std::istreambuf_iterator<char>()};
    EXPECT_NE(refusal(elf).find("not a PE image"), std::string::npos) << refusal(elf);

    std::vector<uint8_t> file = dll_bytes();
    std::vector<uint8_t> truncated(file.begin(), file.begin() + 300);
    EXPECT_NE(refusal(truncated).find("lies outside the file"), std::string::npos) << refusal(truncated);

    file = dll_bytes();
    headers_of(file).file.machine = 0x8664;
    EXPECT_NE(refusal(file).find("not an i386 image"), std::string::npos) << refusal(file);

    file = dll_bytes();
    headers_of(file).optional.magic = 0x20b;
    EXPECT_NE(refusal(file).find("not a PE32 image"), std::string::npos) << refusal(file);

    file = dll_bytes();
    headers_of(file).file.characteristics &= ~pe_loader::kFileDll;
    EXPECT_NE(refusal(file).find("not a DLL"), std::string::npos) << refusal(file);
}

// A DLL that grows an import the loader lacks must fail to load, naming it.
TEST(DllLoading, UnknownImportFailsTheLoadByName) {
    std::vector<uint8_t> file = dll_bytes();
    replace_text(file, std::string("Sleep", 6), std::string("Sleet", 6));
    const std::string message = refusal(file);
    EXPECT_NE(message.find("imports Sleet from KERNEL32.dll"), std::string::npos) << message;
}

}  // namespace
}  // namespace pe_loader_test
