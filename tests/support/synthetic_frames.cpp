#include "support/synthetic_frames.h"

#include <cmath>

namespace zeverive_test {

void fill_smooth(TestFrame& frame) {
    const int w = frame.info.width, h = frame.info.height;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int dx = x - w / 2, dy = y - h / 2;
            frame.at(x, y).y = static_cast<int16_t>(800 + 3 * x + 2 * y + (dx * dx + dy * dy) / 64);
        }
    }
}

void fill_edge(TestFrame& frame) {
    for (int y = 0; y < frame.info.height; ++y) {
        for (int x = 0; x < frame.info.width; ++x) frame.at(x, y).y = x < frame.info.width / 2 ? 1000 : 3000;
    }
}

void add_noise(TestFrame& frame, int sigma, uint32_t seed) {
    uint32_t state = seed * 2654435761u + 1;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state & 0xFFFFu;
    };
    for (int y = 0; y < frame.info.height; ++y) {
        for (int x = 0; x < frame.info.width; ++x) {
            int64_t sum = 0;
            for (int i = 0; i < 12; ++i) sum += next();
            const int64_t noise = (sum - 6 * 65536) * sigma / 65536;
            frame.at(x, y).y = static_cast<int16_t>(frame.at(x, y).y + noise);
        }
    }
}

double psnr(const TestFrame& frame, const TestFrame& reference) {
    double squared = 0.0;
    const int w = frame.info.width, h = frame.info.height;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double d = frame.pixels[static_cast<size_t>(y) * frame.info.row_pitch + x].y -
                             reference.pixels[static_cast<size_t>(y) * reference.info.row_pitch + x].y;
            squared += d * d;
        }
    }
    const double mse = squared / (static_cast<double>(w) * h);
    return 10.0 * std::log10(4096.0 * 4096.0 / mse);
}

}  // namespace zeverive_test
