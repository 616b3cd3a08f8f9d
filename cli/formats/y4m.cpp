#include "formats/y4m.h"

#include <algorithm>
#include <cstring>

#include "failure.h"
#include "formats/frame_bytes.h"
#include "whole_number.h"

namespace zeverive::cli {
namespace {

constexpr std::string_view kMagic = "YUV4MPEG2";
constexpr std::string_view kFrameMarker = "FRAME";
// Frames read into a picture are read in pieces of this size, so a header
// that promises a huge frame costs memory only as fast as the data
// actually arrives.
constexpr size_t kReadPiece = 1 << 20;

// Shows a piece of unexpected input in a message without letting control
// characters or a long binary run through.
std::string quoted(std::string_view text) {
    std::string shown;
    for (char c : text.substr(0, 24)) shown += (c >= 0x20 && c < 0x7F) ? c : '?';
    if (text.size() > 24) shown += "...";
    return "'" + shown + "'";
}

// `text` begins with the word `word`, ended by a space, a newline or the
// end of the input.
bool starts_token(std::string_view text, std::string_view word) {
    if (text.substr(0, word.size()) != word) return false;
    return text.size() == word.size() || text[word.size()] == ' ' || text[word.size()] == '\n';
}

// Plain decimal digits only: no sign, no spaces, no overflow.
std::optional<int64_t> parse_count(std::string_view text) {
    if (text.size() > 12) return std::nullopt;
    const std::optional<uint64_t> count = whole_number<uint64_t>(text);
    if (!count) return std::nullopt;
    return static_cast<int64_t>(*count);
}

bool is_ratio(std::string_view text) {
    const size_t colon = text.find(':');
    return colon != std::string_view::npos && parse_count(text.substr(0, colon)) &&
           parse_count(text.substr(colon + 1));
}

// Where a FRAME line (the word and a space or newline) begins in `data`.
std::optional<size_t> marker_in(std::string_view data) {
    for (size_t at = data.find(kFrameMarker); at != std::string_view::npos; at = data.find(kFrameMarker, at + 1)) {
        const size_t after = at + kFrameMarker.size();
        if (after < data.size() && (data[after] == ' ' || data[after] == '\n')) return at;
    }
    return std::nullopt;
}

}  // namespace

std::optional<PictureFormat> colourspace_format(const std::string& tag) {
    PictureFormat format;
    if (tag == "420jpeg" || tag == "420paldv" || tag == "420mpeg2" || tag == "420") {
        format.sampling = Sampling::k420;
        return format;
    }
    struct Family {
        const char* prefix;
        Sampling sampling;
    };
    static const Family families[] = {
        {"420p", Sampling::k420}, {"422p", Sampling::k422}, {"444p", Sampling::k444}, {"mono", Sampling::kMono}};
    if (tag == "422" || tag == "444" || tag == "mono") {
        format.sampling = tag == "422" ? Sampling::k422 : tag == "444" ? Sampling::k444 : Sampling::kMono;
        return format;
    }
    for (const Family& family : families) {
        const size_t length = std::strlen(family.prefix);
        if (tag.compare(0, length, family.prefix) != 0) continue;
        const std::string depth = tag.substr(length);
        if (depth == "9" || depth == "10" || depth == "12" || depth == "14" || depth == "16") {
            format.sampling = family.sampling;
            format.bit_depth = std::stoi(depth);
            return format;
        }
    }
    return std::nullopt;
}

Y4mReader::Y4mReader(ByteInput& input) : input_(input) {
    const std::string& name = input.name();
    auto header_failure = [&](const std::string& problem) { return Failure(name + ": stream header: " + problem); };

    ByteInput::Line result;
    try {
        const std::string head(input.peek(32));
        if (head.empty()) throw Failure(name + ": the input is empty (no YUV4MPEG2 stream header)");
        const bool cut_short = head.size() <= kMagic.size() && kMagic.substr(0, head.size()) == head;
        if (!cut_short && !starts_token(head, kMagic))
            throw Failure(name + ": not a YUV4MPEG2 stream (it starts with " + quoted(head) + ")");
        result = input.read_line(line_, kMaxY4mLine);
    } catch (const IoError& error) {
        throw header_failure(error.what());
    }
    if (result == ByteInput::Line::kTooLong) throw header_failure("no newline ends the header line within 64 KiB");
    if (result == ByteInput::Line::kUnterminated) throw header_failure("the input ends inside the header line");
    header_bytes_ = line_.size() + 1;
    header_parameters_ = line_.substr(kMagic.size());

    std::optional<int64_t> width, height;
    std::string colourspace = "420jpeg";
    size_t start = kMagic.size();
    while (start < line_.size()) {
        size_t end = line_.find(' ', start);
        if (end == std::string::npos) end = line_.size();
        const std::string_view token(line_.data() + start, end - start);
        start = end + 1;
        if (token.empty()) continue;
        const std::string_view value = token.substr(1);
        switch (token[0]) {
            case 'W':
                width = parse_count(value);
                if (!width) throw header_failure("malformed width " + quoted(token));
                break;
            case 'H':
                height = parse_count(value);
                if (!height) throw header_failure("malformed height " + quoted(token));
                break;
            case 'C':
                colourspace = std::string(value);
                break;
            case 'F':
                if (!is_ratio(value)) throw header_failure("malformed frame rate " + quoted(token));
                break;
            case 'A':
                if (!is_ratio(value)) throw header_failure("malformed pixel aspect " + quoted(token));
                break;
            case 'I':
                if (value.size() != 1 || std::string_view("ptbm?").find(value[0]) == std::string_view::npos)
                    throw header_failure("unknown interlacing " + quoted(token));
                interlacing_ = value[0];
                break;
            default:
                // X parameters (colour range, comments and the like) and
                // tags this program has no use for travel to the output as
                // they are.
                break;
        }
    }
    if (!width) throw header_failure("no width (W) given");
    if (!height) throw header_failure("no height (H) given");
    const std::optional<PictureFormat> format = colourspace_format(colourspace);
    if (!format) throw header_failure("unknown colourspace " + quoted("C" + colourspace));
    if (*width == 0 || *height == 0)
        throw header_failure("zero-sized frames (" + size_text(*width, *height) + ")");
    if (*width > kMaxFrameSide || *height > kMaxFrameSide)
        throw header_failure("frame size " + size_text(*width, *height) +
                             " is larger than " + std::to_string(kMaxFrameSide) + " on a side");
    format_ = *format;
    format_.width = static_cast<int>(*width);
    format_.height = static_cast<int>(*height);
    frame_bytes_ = cli::frame_bytes(format_);
}

bool Y4mReader::read_marker(std::string& frame_parameters) {
    const std::string& name = input_.name();
    const int64_t frame = frames_read_;
    try {
        const std::string head(input_.peek(32));
        if (head.empty()) return false;
        const bool cut_short = head.size() <= kFrameMarker.size() && kFrameMarker.substr(0, head.size()) == head;
        if (!cut_short && !starts_token(head, kFrameMarker)) {
            // Most often the frame before was shorter than the header
            // says, and this frame's marker went into its data.
            if (const std::optional<size_t> short_data = short_frame_data(head)) {
                throw frame_failure(name, frame - 1,
                                    "short frame: " + std::to_string(*short_data) + " bytes of picture data, not " +
                                        std::to_string(frame_bytes_) +
                                        " as the stream header's size and colourspace give (the next FRAME line "
                                        "begins inside them)");
            }
            throw frame_failure(name, frame, "expected a FRAME line, found " + quoted(head));
        }
        const ByteInput::Line result = input_.read_line(line_, kMaxY4mLine);
        if (result == ByteInput::Line::kTooLong)
            throw frame_failure(name, frame, "no newline ends the FRAME line within 64 KiB");
        if (result == ByteInput::Line::kUnterminated) throw frame_failure(name, frame, "truncated inside the FRAME line");
    } catch (const IoError& error) {
        throw frame_failure(name, frame, error.what());
    }
    frame_parameters.assign(line_, kFrameMarker.size());
    return true;
}

void Y4mReader::read_samples(uint8_t* bytes, size_t offset, size_t count) {
    size_t got = 0;
    try {
        got = input_.read(bytes, count);
    } catch (const IoError& error) {
        throw frame_failure(input_.name(), frames_read_, error.what());
    }
    check_whole(offset, got, count);
}

void Y4mReader::check_whole(size_t offset, uint64_t got, size_t count) const {
    if (got < count) {
        throw frame_failure(input_.name(), frames_read_,
                            "truncated: " + std::to_string(offset + got) + " of " + std::to_string(frame_bytes_) +
                                " bytes of picture data");
    }
}

void Y4mReader::remember_end(const uint8_t* bytes) {
    last_frame_ = bytes;
    const size_t tail = std::min(frame_bytes_, kFrameMarker.size());
    tail_.assign(reinterpret_cast<const char*>(bytes) + frame_bytes_ - tail, tail);
}

std::optional<size_t> Y4mReader::short_frame_data(std::string_view head) const {
    if (frames_read_ == 0) return std::nullopt;
    // A marker cut in two by the frame's end shows only with what follows.
    const std::optional<size_t> across = marker_in(tail_ + std::string(head));
    if (across && *across < tail_.size()) return frame_bytes_ - tail_.size() + *across;
    return marker_in(std::string_view(reinterpret_cast<const char*>(last_frame_), frame_bytes_));
}

bool Y4mReader::skip() {
    std::string frame_parameters;
    if (!read_marker(frame_parameters)) return false;
    uint64_t got = 0;
    try {
        got = input_.skip(frame_bytes_);
    } catch (const IoError& error) {
        throw frame_failure(input_.name(), frames_read_, error.what());
    }
    check_whole(0, got, frame_bytes_);
    ++frames_read_;
    return true;
}

bool Y4mReader::read(uint8_t* bytes, std::string& frame_parameters) {
    if (!read_marker(frame_parameters)) return false;
    read_samples(bytes, 0, frame_bytes_);
    remember_end(bytes);
    ++frames_read_;
    return true;
}

bool Y4mReader::read(Picture& picture) {
    if (!read_marker(picture.frame_parameters)) return false;
    for (size_t got = 0; got < frame_bytes_; got += kReadPiece) {
        const size_t piece = std::min(kReadPiece, frame_bytes_ - got);
        if (raw_.size() < got + piece) raw_.resize(got + piece);
        read_samples(raw_.data() + got, got, piece);
    }
    decode_frame(format_, raw_.data(), picture);
    remember_end(raw_.data());
    ++frames_read_;
    return true;
}

luma::Scan Y4mReader::scan_of(const std::string& frame_parameters) const {
    switch (interlacing_) {
        case 't':
            return luma::Scan::kTopFieldFirst;
        case 'b':
            return luma::Scan::kBottomFieldFirst;
        case 'm':
            break;
        default:
            return luma::Scan::kProgressive;
    }
    for (size_t start = 0; start < frame_parameters.size();) {
        size_t end = frame_parameters.find(' ', start);
        if (end == std::string::npos) end = frame_parameters.size();
        const std::string_view token(frame_parameters.data() + start, end - start);
        start = end + 1;
        // I, then how the frame is shown, when its fields were taken and
        // how its chroma is sited: "Itip", "Ib?p", "I1pp" and the like.
        if (token.size() != 4 || token[0] != 'I') continue;
        if (token[2] != 'i') return luma::Scan::kProgressive;
        return token[1] == 'b' || token[1] == 'B' ? luma::Scan::kBottomFieldFirst : luma::Scan::kTopFieldFirst;
    }
    return luma::Scan::kProgressive;
}

std::optional<int64_t> Y4mReader::frame_count() const {
    const std::optional<uint64_t> total = input_.total_size();
    if (!total || *total < header_bytes_) return std::nullopt;
    return static_cast<int64_t>((*total - header_bytes_) / (frame_bytes_ + kFrameMarker.size() + 1));
}

std::optional<int64_t> Y4mReader::exact_frame_count() const {
    const std::optional<uint64_t> total = input_.total_size();
    if (!total || *total < header_bytes_ || (*total - header_bytes_) % (frame_bytes_ + kFrameMarker.size() + 1) != 0)
        return std::nullopt;
    return frame_count();
}

std::unique_ptr<VideoWriter> Y4mReader::make_writer(ByteSink& sink) const {
    auto writer = std::make_unique<Y4mWriter>(sink, format_, header_parameters_);
    writer->write_header();
    return writer;
}

Y4mWriter::Y4mWriter(ByteSink& sink, PictureFormat format, std::string header_parameters)
    : sink_(sink), format_(format), header_parameters_(std::move(header_parameters)) {}

void Y4mWriter::write_header() {
    const std::string line = std::string(kMagic) + header_parameters_ + "\n";
    sink_.write(line.data(), line.size());
}

void Y4mWriter::write(const std::string& frame_parameters, const uint8_t* bytes) {
    const std::string line = std::string(kFrameMarker) + frame_parameters + "\n";
    sink_.write(line.data(), line.size());
    sink_.write(bytes, frame_bytes(format_));
}

}  // namespace zeverive::cli
