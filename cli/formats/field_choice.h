// Whether a frame is denoised whole or as two fields: as the stream says
// (the YUV4MPEG2 header, or each FRAME line of a mixed stream), or as the
// command line overrides it.
#pragma once

#include "luma/frame_pictures.h"

namespace zeverive::cli {

enum class FieldChoice { kAsTheStreamSays, kFields, kFrames };

// --fields keeps a field order the stream gives and takes the top field
// first where it gives none.
inline luma::Scan chosen_scan(FieldChoice choice, luma::Scan stream_says) {
    switch (choice) {
        case FieldChoice::kFields:
            return stream_says == luma::Scan::kProgressive ? luma::Scan::kTopFieldFirst : stream_says;
        case FieldChoice::kFrames:
            return luma::Scan::kProgressive;
        case FieldChoice::kAsTheStreamSays:
            break;
    }
    return stream_says;
}

}  // namespace zeverive::cli
