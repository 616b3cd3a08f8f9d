// YUV4MPEG2 streams: a header line, then frames, each a "FRAME" line and
// the planes Y, Cb, Cr one after the other (16-bit little-endian samples
// above 8 bits).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/byte_input.h"
#include "formats/byte_sink.h"
#include "formats/picture.h"
#include "formats/video_stream.h"

namespace zeverive::cli {

// The colourspace tag (after "C") as sampling and bit depth: 420jpeg,
// 420paldv, 420mpeg2, 420, 422, 444 and mono at 8 bits; 420pN, 422pN,
// 444pN and monoN for N of 9, 10, 12, 14 and 16. Nothing for other tags.
std::optional<PictureFormat> colourspace_format(const std::string& tag);

// Longest header or FRAME line accepted.
constexpr size_t kMaxY4mLine = 1 << 16;

class Y4mReader : public VideoReader {
public:
    // Reads and checks the stream header; throws Failure naming the input.
    explicit Y4mReader(ByteInput& input);

    const PictureFormat& format() const override { return format_; }
    // Everything after "YUV4MPEG2" on the header line, exactly as read.
    const std::string& header_parameters() const { return header_parameters_; }

    // The next frame: what follows "FRAME" on its marker line, and
    // frame_bytes() bytes of samples; false at the end of the stream.
    // Throws Failure naming the input and the frame for a damaged or
    // truncated frame. The samples of the previous frame must still be
    // where they were read to (they tell a short frame from damage).
    bool read(uint8_t* bytes, std::string& frame_parameters) override;
    bool read(Picture& picture) override;
    bool skip() override;
    size_t frame_bytes() const override { return frame_bytes_; }
    // The header's interlacing: It and Ib for every frame, Im per frame
    // from the frame's own I parameter (its second letter i for fields
    // taken at two instants, its first t, T, b or B for their order);
    // progressive for Ip, I?, no I, and a frame of a mixed stream that
    // says nothing.
    luma::Scan scan_of(const std::string& frame_parameters) const override;

    // Frames in the whole stream when its length is known, assuming bare
    // FRAME lines.
    std::optional<int64_t> frame_count() const override;
    // The same when bare FRAME lines and whole frames fill the stream to
    // its last byte; parameters on FRAME lines would have to add up to a
    // whole number of frames to mislead it.
    std::optional<int64_t> exact_frame_count() const override;
    // A Y4mWriter that has written this stream's header.
    std::unique_ptr<VideoWriter> make_writer(ByteSink& sink) const override;

    int64_t frames_read() const { return frames_read_; }

private:
    bool read_marker(std::string& frame_parameters);
    // `count` bytes of the frame from `offset` on.
    void read_samples(uint8_t* bytes, size_t offset, size_t count);
    void remember_end(const uint8_t* bytes);
    // How many bytes the last frame really held, when the missing marker
    // of this one is found inside them.
    std::optional<size_t> short_frame_data(std::string_view head) const;
    // Throws unless `got` bytes from `offset` on were the `count` wanted.
    void check_whole(size_t offset, uint64_t got, size_t count) const;

    ByteInput& input_;
    PictureFormat format_;
    std::string header_parameters_;
    char interlacing_ = 'p';
    size_t frame_bytes_ = 0;
    int64_t frames_read_ = 0;
    // What tells a frame shorter than the header says from damage: a FRAME
    // line inside the last frame's samples, or begun in their last bytes.
    // Searched only when a marker is missing, so no frame pays for it.
    const uint8_t* last_frame_ = nullptr;
    std::string tail_;
    uint64_t header_bytes_ = 0;
    std::vector<uint8_t> raw_;
    std::string line_;
};

class Y4mWriter : public VideoWriter {
public:
    Y4mWriter(ByteSink& sink, PictureFormat format, std::string header_parameters);
    void write_header();
    // A frame: "FRAME" and its parameters, then frame_bytes(format) bytes
    // of samples as decode_frame reads them.
    void write(const std::string& frame_parameters, const uint8_t* bytes) override;

private:
    ByteSink& sink_;
    PictureFormat format_;
    std::string header_parameters_;
};

}  // namespace zeverive::cli
