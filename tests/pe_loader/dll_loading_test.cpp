// Loading: the exports, a second copy away from the preferred base, and the
// images the loader must refuse with a reason.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "dll_under_test.h"
#include "pe_format.h"

namespace pe_loader_test {
namespace {

using pe_loader::LoadedImage;
using pe_loader::LoadError;

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
    const auto copy = LoadedImage::load(dll_path());
    EXPECT_FALSE(copy->at_preferred_base());
    auto* record = reinterpret_cast<FilterTable* (*)()>(copy->export_by_ordinal(1))();
    ASSERT_TRUE(copy->contains(record));
    EXPECT_STREQ(record->display_name, dll_record()->display_name);
    EXPECT_TRUE(copy->contains(record->display_name));
    EXPECT_TRUE(copy->contains(reinterpret_cast<const void*>(record->process_frame)));
    EXPECT_EQ(record->slider_defaults[0], 3);
    EXPECT_EQ(record->initialise(), 1);
    EXPECT_EQ(record->finalise(), 1);
}

std::vector<uint8_t> dll_bytes() {
    std::ifstream in(dll_path(), std::ios::binary);
    return std::vector<uint8_t>{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

pe_loader::NtHeaders& headers_of(std::vector<uint8_t>& file) {
    return *reinterpret_cast<pe_loader::NtHeaders*>(file.data() + reinterpret_cast<pe_loader::DosHeader*>(file.data())->pe_header_offset);
}

// The loader's message for the file, or "" if it loaded.
std::string refusal(const std::vector<uint8_t>& file) {
    char path[] = "/tmp/pe_loader_testXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || write(fd, file.data(), file.size()) != static_cast<ssize_t>(file.size())) return "cannot write " + std::string(path);
    close(fd);
    std::string message;
    try {
        LoadedImage::load(path);
    } catch (const LoadError& error) {
        message = error.what();
    }
    unlink(path);
    return message;
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
