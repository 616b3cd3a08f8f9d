// libFuzzer target for raw host frames (.yc) and the plug-in's callbacks:
// the first bytes choose a frame size, the records' shape (missing
// records, arrays and tables, any row pitch, any slider values) and a
// window message; the rest is read as .yc frames, which go through the
// plug-in over buffers exactly as large as the records say, so that
// AddressSanitizer sees any access beyond them.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "failure.h"
#include "formats/byte_input.h"
#include "formats/yc_format.h"
#include "host/callbacks.h"

using namespace zeverive::cli;

namespace {

class Choices {
public:
    Choices(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint32_t next(uint32_t limit) {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | (at_ < size_ ? data_[at_++] : 0);
        return limit ? value % limit : value;
    }
    size_t used() const { return at_ < size_ ? at_ : size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

int32_t ZEVERIVE_CDECL host_service(HostFilter*) {
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        initialise();
        return true;
    }();
    (void)ready;
    Choices choose(data, size);
    // Sizes around the line buffers' limit and the size classes.
    const int width = 1 + static_cast<int>(choose.next(900));
    const int height = 1 + static_cast<int>(choose.next(900));
    const int32_t pitch = static_cast<int32_t>(choose.next(0)) % 1200;
    const uint32_t missing = choose.next(0);
    const uint32_t message = 2020 + choose.next(16);
    const uint32_t value_word = choose.next(0);
    if (choose.next(64) == 0) initialise();  // again, without finalise

    FilterTable filter = *GetFilterTable();
    std::vector<int32_t> sliders(kSliderCount);
    for (int32_t& slider : sliders) slider = static_cast<int32_t>(choose.next(0)) % 300;
    int32_t checkbox = static_cast<int32_t>(choose.next(3));
    HostService services[32] = {};
    services[kHostServiceAfterRemoteChange] = (missing & 1) ? nullptr : host_service;
    filter.slider_values = (missing & 2) ? nullptr : sliders.data();
    filter.checkbox_values = (missing & 4) ? nullptr : &checkbox;
    filter.host_services = (missing & 8) ? nullptr : services;
    HostFilter* record = (missing & 16) ? nullptr : &filter;

    settings_changed(record);
    window_message(nullptr, message, 0, static_cast<intptr_t>(static_cast<int32_t>(value_word)), nullptr, record);

    auto input = ByteInput::from_memory(data + choose.used(), size - choose.used(), "fuzz.yc");
    try {
        YcReader reader(*input, width, height);
        std::vector<uint8_t> bytes(reader.frame_bytes());
        std::string frame_parameters;
        while (reader.read(bytes.data(), frame_parameters)) {
            // Exactly the pixels the record describes: rows of `pitch`,
            // the last row only as wide as the frame.
            const size_t rows_before_last = pitch > 0 ? static_cast<size_t>(pitch) * (height - 1) : 0;
            std::vector<YcPixel> pixels(rows_before_last + width);
            std::memcpy(pixels.data(), bytes.data(), std::min(bytes.size(), pixels.size() * sizeof(YcPixel)));
            FrameInfo frame{0, (missing & 32) ? nullptr : pixels.data(), 0, width, height, pitch};
            if (process_frame(record, (missing & 64) ? nullptr : &frame) != 1) std::abort();
        }
    } catch (const Failure&) {
        // A truncated last frame is refused with a message.
    }
    return 0;
}
