// The blocks of a picture's spread that the noise estimate does not leave
// out as structure, handed on to measurements that read the same ones (the
// noise's level by brightness, its correlation), so that every figure
// about a clip's noise rests on one choice of blocks.
#pragma once

#include <cstddef>

namespace zeverive::luma {

constexpr int kFlatBlockSide = 8;

struct FlatBlock {
    const float* samples;  // the top left sample, in 8-bit codes; rows `stride` floats apart
    int stride;
    int row;               // the block's place in the frame, in blocks
    int column;
    float spread;          // the variance around the block's fitted surface, as the estimate reads it
};

class FlatBlockReader {
public:
    virtual ~FlatBlockReader() = default;
    // One frame's blocks that no clipping touched, while the frame's
    // samples are still there.
    virtual void read_frame(const FlatBlock* blocks, size_t count) = 0;
};

}  // namespace zeverive::luma
