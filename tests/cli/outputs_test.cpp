// What the program leaves on disk: outputs that appear whole or not at
// all, the PNG preview, and the PSNR arithmetic.

#include <gtest/gtest.h>
#include <png.h>

#include <cmath>

#include "failure.h"
#include "report/preview.h"
#include "report/psnr.h"
#include "run/output_file.h"
#include "test_support.h"

namespace zeverive::cli {
namespace {

using testing::TempDir;

std::string failure_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const Failure& failure) {
        return failure.what();
    }
    return "";
}

TEST(OutputFile, AppearsOnlyWhenCommitted) {
    TempDir dir;
    const std::string path = dir.path("out.y4m");
    {
        OutputFile file(path, {});
        file.write("abc", 3);
        EXPECT_FALSE(testing::exists(path));
        EXPECT_EQ(dir.files().size(), 0u);  // the temporary has no name
        file.commit();
    }
    EXPECT_EQ(testing::read_file(path), "abc");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"out.y4m"});

    // Abandoned: the old file stays as it was and no temporary is left.
    {
        OutputFile file(path, {});
        file.write(std::string(3 << 20, 'x').data(), 3 << 20);
    }
    EXPECT_EQ(testing::read_file(path), "abc");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"out.y4m"});
}

TEST(OutputFile, RefusesInputsDirectoriesAndMissingDirectories) {
    TempDir dir;
    const std::string input = dir.path("in.y4m");
    testing::write_file(input, "keep");
    EXPECT_EQ(failure_of([&] { OutputFile file(input, {input}); }),
              input + ": this is an input file; the output needs another name");
    // The same file under another name is still the input.
    EXPECT_EQ(failure_of([&] { OutputFile file(dir.path("./in.y4m"), {input}); }),
              dir.path("./in.y4m") + ": this is an input file; the output needs another name");
    EXPECT_NE(failure_of([&] { OutputFile file(dir.path(""), {}); }).find("cannot write: it is a directory"),
              std::string::npos);
    EXPECT_EQ(failure_of([&] { OutputFile file(dir.path("no/such/out.y4m"), {}); }),
              dir.path("no/such/out.y4m") + ": cannot create: No such file or directory");
    EXPECT_EQ(testing::read_file(input), "keep");
}

TEST(Preview, HostColoursBecomeRgb) {
    uint8_t rgb[3];
    host_to_rgb({4096, 0, 0}, rgb);
    EXPECT_EQ(rgb[0], 255);
    EXPECT_EQ(rgb[1], 255);
    EXPECT_EQ(rgb[2], 255);
    host_to_rgb({0, 0, 0}, rgb);
    EXPECT_EQ(rgb[0] + rgb[1] + rgb[2], 0);
    host_to_rgb({2048, 0, 0}, rgb);
    EXPECT_EQ(rgb[0], 128);
    EXPECT_EQ(rgb[2], 128);
    // Pure red at full range: Y 0.299, Cb -0.1687, Cr 0.5.
    host_to_rgb({1225, -691, 2048}, rgb);
    EXPECT_GE(rgb[0], 254);
    EXPECT_LE(rgb[1], 1);
    EXPECT_LE(rgb[2], 1);
    // Out-of-range values clip rather than wrap.
    host_to_rgb({6000, 0, 0}, rgb);
    EXPECT_EQ(rgb[1], 255);
    host_to_rgb({-500, 0, 0}, rgb);
    EXPECT_EQ(rgb[1], 0);
}

TEST(Preview, PngHoldsBeforeLeftOfAfter) {
    TempDir dir;
    const int width = 3, height = 2;
    std::vector<YcPixel> before(6, YcPixel{0, 0, 0}), after(6, YcPixel{4096, 0, 0});
    before[4] = {4096, 0, 0};
    OutputFile file(dir.path("p.png"), {}, "preview");
    write_preview(file, before, after, width, height);
    file.commit();

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, dir.path("p.png").c_str()));
    EXPECT_EQ(image.width, 6u);
    EXPECT_EQ(image.height, 2u);
    image.format = PNG_FORMAT_GRAY;
    std::vector<uint8_t> grey(12);
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, grey.data(), 0, nullptr));
    EXPECT_EQ(grey, (std::vector<uint8_t>{0, 0, 0, 255, 255, 255, 0, 255, 0, 255, 255, 255}));
}

TEST(Psnr, OneMeanSquaredErrorOverAllFrames) {
    PsnrMeter meter;
    meter.add({0, 0, 0, 0}, {0, 0, 0, 0});
    EXPECT_TRUE(std::isinf(meter.decibels(255)));
    meter.add({10, 10, 10, 10}, {12, 8, 12, 8});  // squared error 4 on 4 of 8 samples: MSE 2
    EXPECT_NEAR(meter.decibels(255), 10 * std::log10(255.0 * 255.0 / 2.0), 1e-9);
    EXPECT_EQ(meter.samples(), 8u);
}

}  // namespace
}  // namespace zeverive::cli
