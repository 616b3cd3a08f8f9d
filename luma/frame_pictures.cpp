#include "luma/frame_pictures.h"

namespace zeverive::luma {

FramePictures::FramePictures(Scan scan, int height) {
    if (scan == Scan::kProgressive) {
        pictures_[count_++] = {Parity::kFrame, 0, 1, height};
        return;
    }
    const FramePicture top{Parity::kTopField, 0, 2, (height + 1) / 2};
    const FramePicture bottom{Parity::kBottomField, 1, 2, height / 2};
    const FramePicture& first = scan == Scan::kTopFieldFirst ? top : bottom;
    const FramePicture& second = scan == Scan::kTopFieldFirst ? bottom : top;
    // A frame of one row has no second field.
    for (const FramePicture& field : {first, second})
        if (field.rows > 0) pictures_[count_++] = field;
}

const char* scan_name(Scan scan) {
    switch (scan) {
        case Scan::kTopFieldFirst:
            return "top field first";
        case Scan::kBottomFieldFirst:
            return "bottom field first";
        case Scan::kProgressive:
            break;
    }
    return "progressive";
}

}  // namespace zeverive::luma
