// How a frame's samples are laid out: its size, chroma sampling and depth.
#pragma once

#include <cstddef>

namespace zeverive::luma {

enum class Sampling {
    k420,   // chroma halved both ways
    k422,   // chroma halved across
    k444,   // chroma at full size
    kMono,  // no chroma planes
    kHost,  // the host's own frame: Y, Cb, Cr at full size, already on the host scale
};

struct PictureFormat {
    int width = 0;
    int height = 0;
    Sampling sampling = Sampling::k420;
    int bit_depth = 8;  // for kHost, 16: signed samples as the plug-in sees them

    int plane_count() const { return sampling == Sampling::kMono ? 1 : 3; }
    // Chroma planes round their halved sizes up, so odd sizes keep their
    // last column and row.
    int plane_width(int plane) const {
        if (plane == 0) return width;
        return (sampling == Sampling::k420 || sampling == Sampling::k422) ? (width + 1) / 2 : width;
    }
    int plane_height(int plane) const {
        if (plane == 0) return height;
        return sampling == Sampling::k420 ? (height + 1) / 2 : height;
    }
    size_t plane_samples(int plane) const {
        return static_cast<size_t>(plane_width(plane)) * static_cast<size_t>(plane_height(plane));
    }
    int max_code() const { return (1 << bit_depth) - 1; }
};

}  // namespace zeverive::luma
