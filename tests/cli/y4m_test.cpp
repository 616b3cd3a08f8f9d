// The YUV4MPEG2 and raw host frame readers and writers: every colourspace
// and depth, the header and FRAME lines carried byte for byte, and the
// damaged streams they must refuse with a useful message.

#include <gtest/gtest.h>

#include "failure.h"
#include "formats/frame_bytes.h"
#include "formats/video_io.h"
#include "formats/y4m.h"
#include "formats/yc_format.h"
#include "test_support.h"

namespace zeverive::cli {
namespace {

using testing::make_y4m;
using testing::ClipShape;
using testing::clip_shape;

std::unique_ptr<ByteInput> memory(const std::string& bytes, const std::string& name = "clip.y4m") {
    return ByteInput::from_memory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), name);
}

// Reads a whole stream and writes it back with the program's own writer.
std::string copy_through(const std::string& bytes, std::optional<FrameSize> size = std::nullopt) {
    auto input = memory(bytes, size ? "clip.yc" : "clip.y4m");
    auto reader = open_reader(*input, size);
    StringSink sink;
    auto writer = reader->make_writer(sink);
    Picture picture;
    std::vector<uint8_t> samples(reader->frame_bytes());
    while (reader->read(picture)) {
        encode_frame(reader->format(), picture, samples.data());
        writer->write(picture.frame_parameters, samples.data());
    }
    return sink.bytes;
}

// The message a stream makes the reader throw, or "" if it reads cleanly.
std::string reading_failure(const std::string& bytes, std::optional<FrameSize> size = std::nullopt,
                            const std::string& name = "clip.y4m") {
    try {
        auto input = memory(bytes, name);
        auto reader = open_reader(*input, size);
        Picture picture;
        while (reader->read(picture)) {
        }
    } catch (const Failure& failure) {
        return failure.what();
    }
    return "";
}

TEST(Y4m, EveryColourspaceIsReadWithItsSamplingAndDepth) {
    struct Case {
        const char* tag;
        Sampling sampling;
        int depth;
    };
    const Case cases[] = {
        {"420jpeg", Sampling::k420, 8}, {"420paldv", Sampling::k420, 8}, {"420mpeg2", Sampling::k420, 8},
        {"420", Sampling::k420, 8},     {"422", Sampling::k422, 8},      {"444", Sampling::k444, 8},
        {"mono", Sampling::kMono, 8},   {"420p10", Sampling::k420, 10},  {"422p10", Sampling::k422, 10},
        {"444p12", Sampling::k444, 12}, {"420p16", Sampling::k420, 16},  {"mono16", Sampling::kMono, 16},
        {"mono10", Sampling::kMono, 10}, {"444p9", Sampling::k444, 9},   {"420p14", Sampling::k420, 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        ClipShape shape = clip_shape(c.tag, 7, 5);
        const std::string bytes = make_y4m(shape);
        auto input = memory(bytes);
        Y4mReader reader(*input);
        EXPECT_EQ(reader.format().sampling, c.sampling);
        EXPECT_EQ(reader.format().bit_depth, c.depth);
        EXPECT_EQ(reader.format().width, 7);
        EXPECT_EQ(reader.format().height, 5);
        Picture picture;
        int frames = 0;
        while (reader.read(picture)) {
            ++frames;
            EXPECT_EQ(picture.planes[0].size(), 35u);
            EXPECT_EQ(picture.planes[1].size(), static_cast<size_t>(shape.chroma_width * shape.chroma_height));
        }
        EXPECT_EQ(frames, shape.frames);
        // Reading and writing again gives the same bytes.
        EXPECT_EQ(copy_through(bytes), bytes);
    }
    // A stream without a C parameter is 8-bit 4:2:0.
    ClipShape plain = clip_shape("420jpeg", 6, 4);
    plain.colourspace = "";
    EXPECT_EQ(copy_through(make_y4m(plain)), make_y4m(plain));
}

TEST(Y4m, SamplesAboveEightBitsAreLittleEndian) {
    const std::string bytes = std::string("YUV4MPEG2 W2 H1 Cmono16\nFRAME\n") + "\x01\x02\xFF\xFF";
    auto input = memory(bytes);
    Y4mReader reader(*input);
    Picture picture;
    ASSERT_TRUE(reader.read(picture));
    EXPECT_EQ(picture.planes[0], (std::vector<int32_t>{0x0201, 0xFFFF}));
}

TEST(Y4m, HeaderAndFrameParametersAreCarriedUnchanged) {
    ClipShape shape = clip_shape("420p10", 8, 4);
    shape.extra_header = " Ib A128:117 XCOLORRANGE=FULL XYSCSS=420P10 Xcomment=made-by-hand Zunknown";
    shape.frame_params = {" Ixyz XFRAME=1", "", " Ibbb"};
    const std::string bytes = make_y4m(shape);
    EXPECT_EQ(copy_through(bytes), bytes);
    const auto parts = testing::split_y4m(copy_through(bytes), shape);
    ASSERT_EQ(parts.frame_lines.size(), 3u);
    EXPECT_EQ(parts.frame_lines[0], "FRAME Ixyz XFRAME=1");
    EXPECT_EQ(parts.frame_lines[1], "FRAME");
}

TEST(Y4m, DamagedHeadersAreRefusedNamingTheProblem) {
    const std::string frame = "FRAME\n" + std::string(6, '\x10');
    struct Case {
        std::string bytes;
        std::string expected;
    };
    const Case cases[] = {
        {"", "clip.y4m: the input is empty"},
        {"RIFF....WAVEfmt", "clip.y4m: not a YUV4MPEG2 stream (it starts with 'RIFF....WAVEfmt')"},
        {"YUV4MPEG2 W2 H2", "clip.y4m: stream header: the input ends inside the header line"},
        {"YUV4MPEG2 H2 C420jpeg\n" + frame, "clip.y4m: stream header: no width (W) given"},
        {"YUV4MPEG2 W2\n" + frame, "clip.y4m: stream header: no height (H) given"},
        {"YUV4MPEG2 W-2 H2\n" + frame, "clip.y4m: stream header: malformed width 'W-2'"},
        {"YUV4MPEG2 W2 Hx\n" + frame, "clip.y4m: stream header: malformed height 'Hx'"},
        {"YUV4MPEG2 W0 H2\n" + frame, "clip.y4m: stream header: zero-sized frames (0x2)"},
        {"YUV4MPEG2 W2 H0\n", "clip.y4m: stream header: zero-sized frames (2x0)"},
        {"YUV4MPEG2 W2 H2 C411\n" + frame, "clip.y4m: stream header: unknown colourspace 'C411'"},
        {"YUV4MPEG2 W2 H2 C420p11\n" + frame, "clip.y4m: stream header: unknown colourspace 'C420p11'"},
        {"YUV4MPEG2 W2 H2 F25\n" + frame, "clip.y4m: stream header: malformed frame rate 'F25'"},
        {"YUV4MPEG2 W2 H2 A1:x\n" + frame, "clip.y4m: stream header: malformed pixel aspect 'A1:x'"},
        {"YUV4MPEG2 W2 H2 Iq\n" + frame, "clip.y4m: stream header: unknown interlacing 'Iq'"},
        {"YUV4MPEG2 W20000 H2\n", "clip.y4m: stream header: frame size 20000x2 is larger than 16384 on a side"},
        {"YUV4MPEG2 " + std::string(70000, 'X') + "\n", "clip.y4m: stream header: no newline ends the header line within 64 KiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 40));
        EXPECT_EQ(reading_failure(c.bytes).rfind(c.expected, 0), 0u) << reading_failure(c.bytes);
    }
}

TEST(Y4m, DamagedFramesAreRefusedNamingTheFrame) {
    ClipShape shape = clip_shape("420jpeg", 4, 2);
    const std::string good = make_y4m(shape);  // frames of 6 + 8 + 2 + 2 bytes
    const size_t frame_bytes = 6 + 12;
    const size_t header = good.find('\n') + 1;

    EXPECT_EQ(reading_failure(good.substr(0, good.size() - 5)),
              "clip.y4m: frame 2: truncated: 7 of 12 bytes of picture data");
    EXPECT_EQ(reading_failure(good.substr(0, header + frame_bytes + 3)),
              "clip.y4m: frame 1: truncated inside the FRAME line");
    std::string bad_marker = good;
    bad_marker.replace(header + frame_bytes, 5, "FRAMX");
    EXPECT_EQ(reading_failure(bad_marker).rfind("clip.y4m: frame 1: expected a FRAME line, found 'FRAMX?", 0), 0u);
    // A frame shorter than the header says: the next marker is found in
    // its data, whether whole or cut by the frame's end.
    for (size_t missing : {2u, 9u}) {
        std::string short_frame = good;
        short_frame.erase(header + 6, missing);
        EXPECT_EQ(reading_failure(short_frame),
                  "clip.y4m: frame 0: short frame: " + std::to_string(12 - missing) +
                      " bytes of picture data, not 12 as the stream header's size and colourspace give (the next "
                      "FRAME line begins inside them)");
    }
    // A FRAME line that lacks its newline runs into the samples.
    std::string no_newline = good;
    no_newline.replace(header + frame_bytes, 6, "FRAME " + std::string(70000, 'x'));
    EXPECT_EQ(reading_failure(no_newline), "clip.y4m: frame 1: no newline ends the FRAME line within 64 KiB");
    // Data after the last whole frame is a frame that lacks its marker.
    EXPECT_EQ(reading_failure(good + "junk").rfind("clip.y4m: frame 3: expected a FRAME line, found 'junk'", 0), 0u);
    // The stream may end right after the header: no frames, no error.
    EXPECT_EQ(reading_failure(good.substr(0, header)), "");
}

TEST(Y4m, SizeGivenOnTheCommandLineMustAgreeWithTheHeader) {
    const std::string bytes = make_y4m(clip_shape("420jpeg", 4, 2));
    EXPECT_EQ(reading_failure(bytes, FrameSize{4, 2}), "");
    EXPECT_EQ(reading_failure(bytes, FrameSize{2, 4}),
              "clip.y4m: stream header: the frames are 4x2, not 2x4 as --size says");
}

// Two frames of 3x2 pixels, each sample different.
std::string two_host_frames() {
    std::string bytes;
    for (int i = 0; i < 2 * 3 * 2 * 3; ++i) {
        const int16_t sample = static_cast<int16_t>(i * 2731 - 30000);
        bytes += static_cast<char>(sample & 0xFF);
        bytes += static_cast<char>((sample >> 8) & 0xFF);
    }
    return bytes;
}

TEST(RawHostFrames, ComeBackAsTheyWereAndDecodeAsSignedLittleEndian) {
    const std::string bytes = two_host_frames();
    EXPECT_EQ(copy_through(bytes, FrameSize{3, 2}), bytes);
    auto input = memory(bytes, "clip.yc");
    YcReader reader(*input, 3, 2);
    Picture picture;
    ASSERT_TRUE(reader.read(picture));
    EXPECT_EQ(picture.planes[0][0], -30000);
    EXPECT_EQ(picture.planes[1][0], -30000 + 2731);
    EXPECT_EQ(picture.planes[2][1], -30000 + 5 * 2731);
}

TEST(RawHostFrames, AShortFrameOrAMissingSizeIsNamed) {
    const std::string bytes = two_host_frames();
    EXPECT_EQ(reading_failure(bytes.substr(0, 50), FrameSize{3, 2}, "clip.yc"),
              "clip.yc: frame 1: truncated: 14 of 36 bytes; the input does not hold whole 3x2 frames (check --size)");
    EXPECT_EQ(reading_failure(bytes, std::nullopt, "clip.yc"),
              "clip.yc: raw host frames need their size: give --size WxH");
    EXPECT_EQ(reading_failure(bytes, std::nullopt, "-"),
              "-: not a YUV4MPEG2 stream; for raw host frames (.yc) give their size with --size WxH");
}

// The same clip as YUV4MPEG2 and as raw host frames, in files of `dir`.
struct Source {
    std::string bytes;
    std::string path;
    std::optional<FrameSize> size;
};

std::vector<Source> both_formats(const testing::TempDir& dir) {
    ClipShape shape = clip_shape("420p10", 24, 16);
    shape.frames = 4;
    shape.frame_params = {"", " Xa", "", " Xb"};
    const std::string y4m = make_y4m(shape);
    std::string yc(24 * 16 * 6 * 3, '\0');
    for (size_t i = 0; i < yc.size(); ++i) yc[i] = static_cast<char>(i * 7 + i / 500);
    testing::write_file(dir.path("clip.y4m"), y4m);
    testing::write_file(dir.path("clip.yc"), yc);
    return {Source{y4m, dir.path("clip.y4m"), std::nullopt}, Source{yc, dir.path("clip.yc"), FrameSize{24, 16}}};
}

// Skipping a frame lands where reading it would, in a file (which seeks),
// in memory and in raw host frames.
TEST(Readers, SkippedFramesLeaveTheReaderWhereReadingWould) {
    testing::TempDir dir;
    for (const Source& source : both_formats(dir)) {
        SCOPED_TRACE(source.path);
        auto whole_input = memory(source.bytes, source.path);
        auto whole = open_reader(*whole_input, source.size);
        std::vector<Picture> frames(3);
        for (Picture& frame : frames) ASSERT_TRUE(whole->read(frame));
        for (bool from_file : {true, false}) {
            auto input = from_file ? ByteInput::open(source.path) : memory(source.bytes, source.path);
            auto reader = open_reader(*input, source.size);
            Picture picture;
            ASSERT_TRUE(reader->skip());
            ASSERT_TRUE(reader->read(picture));
            EXPECT_EQ(picture.planes[0], frames[1].planes[0]);
            EXPECT_EQ(picture.frame_parameters, frames[1].frame_parameters);
            ASSERT_TRUE(reader->skip());
            while (reader->skip()) {
            }
            EXPECT_FALSE(reader->read(picture));
        }
    }
}

TEST(Readers, AFrameCutShortIsReportedBySkippingAsByReading) {
    testing::TempDir dir;
    for (const Source& source : both_formats(dir)) {
        SCOPED_TRACE(source.path);
        const std::string cut = source.bytes.substr(0, source.bytes.size() - 5);
        auto input = memory(cut, source.path);
        auto reader = open_reader(*input, source.size);
        std::string skipped;
        try {
            while (reader->skip()) {
            }
        } catch (const Failure& failure) {
            skipped = failure.what();
        }
        EXPECT_EQ(skipped, reading_failure(cut, source.size, source.path));
        EXPECT_NE(skipped, "");
    }
}

}  // namespace
}  // namespace zeverive::cli
