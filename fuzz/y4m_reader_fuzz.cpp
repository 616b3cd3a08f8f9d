// libFuzzer target for the YUV4MPEG2 reader: any bytes either read as a
// stream or fail with a Failure, and a stream read to its end is written
// back byte for byte.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "failure.h"
#include "formats/byte_input.h"
#include "formats/byte_sink.h"
#include "formats/frame_bytes.h"
#include "formats/y4m.h"

using namespace zeverive::cli;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto input = ByteInput::from_memory(data, size, "fuzz.y4m");
    try {
        Y4mReader reader(*input);
        const PictureFormat& format = reader.format();
        if (format.width < 1 || format.height < 1 || format.width > kMaxFrameSide || format.height > kMaxFrameSide)
            std::abort();
        StringSink sink;
        Y4mWriter writer(sink, format, reader.header_parameters());
        writer.write_header();
        // Frames are read both ways in turn: as raw samples, written back
        // as they are (only where the buffer is small enough to cost
        // nothing), and decoded into a picture.
        std::vector<uint8_t> samples;
        if (reader.frame_bytes() <= (1u << 20)) samples.resize(reader.frame_bytes());
        std::string frame_parameters;
        Picture picture;
        std::vector<uint8_t> encoded;
        for (int64_t frame = 0;; ++frame) {
            if (frame % 2 == 0 && !samples.empty()) {
                if (!reader.read(samples.data(), frame_parameters)) break;
                writer.write(frame_parameters, samples.data());
                continue;
            }
            if (!reader.read(picture)) break;
            for (int plane = 0; plane < 3; ++plane) {
                const size_t expected = plane < format.plane_count() ? format.plane_samples(plane) : 0;
                if (picture.planes[plane].size() != expected) std::abort();
                // Above 8 bits a file may hold any 16-bit number.
                const int32_t limit = format.bit_depth > 8 ? 0xFFFF : 0xFF;
                for (int32_t sample : picture.planes[plane])
                    if (sample < 0 || sample > limit) std::abort();
            }
            encoded.resize(reader.frame_bytes());
            encode_frame(format, picture, encoded.data());
            writer.write(picture.frame_parameters, encoded.data());
        }
        // Everything was accepted, so everything must come back.
        if (sink.bytes.size() != size ||
            (size > 0 && sink.bytes.compare(0, size, reinterpret_cast<const char*>(data), size) != 0))
            std::abort();
    } catch (const Failure&) {
        // Refusing damaged input with a message is the expected outcome.
    }
    return 0;
}
