// The pictures a frame holds, in the order they were taken: a progressive
// frame is one picture; an interlaced frame is two fields, every other row
// each, taken at two instants, so each is denoised, measured and set up as
// a picture of its own. Whatever follows a clip picture by picture (the
// denoiser, the noise estimate, the settings) walks a frame through these.
//
// No files and no options here: the front ends decide a frame's scan.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zeverive::luma {

enum class Scan : uint8_t {
    kProgressive,
    kTopFieldFirst,     // the field of rows 0, 2, 4 ... was taken first
    kBottomFieldFirst,  // the field of rows 1, 3, 5 ... was taken first
};

enum class Parity : uint8_t { kFrame, kTopField, kBottomField };

// Rows first_row, first_row + row_step, ... of a frame: `rows` of them.
struct FramePicture {
    Parity parity;
    int first_row;
    int row_step;
    int rows;
};

class FramePictures {
public:
    FramePictures(Scan scan, int height);
    const FramePicture* begin() const { return pictures_.data(); }
    const FramePicture* end() const { return pictures_.data() + count_; }
    size_t size() const { return count_; }

private:
    std::array<FramePicture, 2> pictures_{};
    size_t count_ = 0;
};

// "progressive", "top field first", "bottom field first", for messages.
const char* scan_name(Scan scan);

// Calls use(samples, rows) for each picture of a frame of `width` samples
// a row, with the picture's rows one after the other: the frame as it is,
// a field gathered into `scratch`.
template <typename Sample, typename Use>
void for_each_picture(const Sample* frame, int width, const FramePictures& pictures, std::vector<Sample>& scratch,
                      Use&& use) {
    const size_t row_length = static_cast<size_t>(width);
    for (const FramePicture& picture : pictures) {
        if (picture.row_step == 1) {
            use(frame + static_cast<size_t>(picture.first_row) * row_length, picture.rows);
            continue;
        }
        scratch.resize(row_length * static_cast<size_t>(picture.rows));
        for (int r = 0; r < picture.rows; ++r) {
            const Sample* row = frame + static_cast<size_t>(picture.first_row + r * picture.row_step) * row_length;
            std::copy(row, row + row_length, scratch.begin() + static_cast<std::ptrdiff_t>(r * row_length));
        }
        use(static_cast<const Sample*>(scratch.data()), picture.rows);
    }
}

}  // namespace zeverive::luma
