// A frame's samples as the files store them, apart from any framing:
// YUV4MPEG2 frames hold the planes one after the other, one byte per sample
// at 8 bits and 16-bit little-endian above; raw host frames hold YcPixel
// after YcPixel, each sample signed 16-bit little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/picture.h"

namespace zeverive::cli {

size_t frame_bytes(const PictureFormat& format);

// Fills the planes `format` has and empties the others.
void decode_frame(const PictureFormat& format, const uint8_t* bytes, Picture& picture);
// The low 8 or 16 bits of each sample.
void encode_frame(const PictureFormat& format, const Picture& picture, uint8_t* bytes);

}  // namespace zeverive::cli
