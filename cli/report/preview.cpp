#include "report/preview.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>

#include "failure.h"
#include "run/output_file.h"

namespace zeverive::cli {
namespace {

uint8_t to_byte(double value) {
    return static_cast<uint8_t>(std::clamp(std::lround(value * 255.0), 0L, 255L));
}

void append_bytes(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

void no_flush(png_structp) {}

// Kept apart from anything with a destructor: libpng reports errors by
// longjmp back here.
bool encode_rows(std::string* out, png_bytep* rows, int width, int height) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, append_bytes, no_flush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

void host_to_rgb(const YcPixel& pixel, uint8_t rgb[3]) {
    const double y = pixel.y / 4096.0;
    const double pb = pixel.cb / 4096.0;
    const double pr = pixel.cr / 4096.0;
    rgb[0] = to_byte(y + 1.402 * pr);
    rgb[1] = to_byte(y - 0.344136 * pb - 0.714136 * pr);
    rgb[2] = to_byte(y + 1.772 * pb);
}

std::string encode_png(const std::vector<uint8_t>& rgb, int width, int height) {
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        rows[y] = const_cast<png_bytep>(rgb.data() + static_cast<size_t>(y) * width * 3);
    std::string out;
    if (!encode_rows(&out, rows.data(), width, height)) throw Failure("the PNG encoder failed");
    return out;
}

void write_preview(OutputFile& file, const std::vector<YcPixel>& before, const std::vector<YcPixel>& after, int width,
                   int height) {
    const size_t row_bytes = static_cast<size_t>(width) * 2 * 3;
    std::vector<uint8_t> rgb(row_bytes * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t pixel = static_cast<size_t>(y) * width + x;
            host_to_rgb(before[pixel], &rgb[y * row_bytes + x * 3]);
            host_to_rgb(after[pixel], &rgb[y * row_bytes + (width + x) * 3]);
        }
    }
    std::string png;
    try {
        png = encode_png(rgb, width * 2, height);
        file.write(png.data(), png.size());
    } catch (const Failure& failure) {
        throw Failure(file.name() + ": " + failure.what());
    } catch (const IoError& error) {
        throw Failure(file.name() + ": " + error.what());
    }
}

}  // namespace zeverive::cli
