#include "formats/video_io.h"

#include "failure.h"
#include "formats/y4m.h"
#include "formats/yc_format.h"

namespace zeverive::cli {

std::unique_ptr<VideoReader> open_reader(ByteInput& input, std::optional<FrameSize> size) {
    std::string head;
    try {
        head = std::string(input.peek(9));
    } catch (const IoError& error) {
        throw Failure(input.name() + ": " + error.what());
    }
    const std::string& name = input.name();
    const bool named_y4m = name.size() > 4 && name.compare(name.size() - 4, 4, ".y4m") == 0;
    const bool named_yc = name.size() > 3 && name.compare(name.size() - 3, 3, ".yc") == 0;
    if (named_y4m || (head == "YUV4MPEG2" && !named_yc)) {
        auto reader = std::make_unique<Y4mReader>(input);
        const PictureFormat& format = reader->format();
        if (size && (size->width != format.width || size->height != format.height)) {
            throw Failure(input.name() + ": stream header: the frames are " + size_text(format.width, format.height) +
                          ", not " + size_text(size->width, size->height) + " as --size says");
        }
        return reader;
    }
    if (!size) {
        throw Failure(name + (named_yc ? ": raw host frames need their size: give --size WxH"
                                       : ": not a YUV4MPEG2 stream; for raw host frames (.yc) give their size with "
                                         "--size WxH"));
    }
    return std::make_unique<YcReader>(input, size->width, size->height);
}

}  // namespace zeverive::cli
