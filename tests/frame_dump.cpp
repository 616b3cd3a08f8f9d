// Writes the luminance of synthetic frames denoised in every mode by every
// variant both builds have and this processor runs, so that two builds can
// be compared byte for byte. Usage: frame_dump OUTPUT
#include <cstdio>
#include <tuple>

#include "host/callbacks.h"
#include "support/forced_variant.h"
#include "support/synthetic_frames.h"
#include "support/test_host.h"
#include "support/variants.h"

int main(int argc, char** argv) {
    using namespace zeverive_test;
    if (argc != 2) {
        std::fprintf(stderr, "usage: frame_dump OUTPUT\n");
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    int frames = 0;
    for (int variant = 0; variant < zeverive::kPortableVariantCount; ++variant) {
        if (!variant_runs(variant)) {
            std::fprintf(stderr, "variant %d: UNTESTED (processor lacks it)\n", variant);
            continue;
        }
        ForcedVariant forced(variant);
        TestHost host;
        for (int mode = 0; mode < 4; ++mode) {
            for (const auto& [w, h, display] : {std::tuple{352, 288, 0}, std::tuple{720, 480, 0}, std::tuple{400, 600, 2}}) {
                host.sliders[kSliderMode] = mode;
                host.sliders[kSliderDisplay] = display;
                host.apply();
                TestFrame frame(w, h);
                fill_smooth(frame);
                add_noise(frame, 40, static_cast<uint32_t>(w + mode));
                process_frame(&host.filter, &frame.info);
                for (const YcPixel& p : frame.pixels) std::fwrite(&p.y, sizeof p.y, 1, out);
                ++frames;
            }
        }
    }
    std::fclose(out);
    std::printf("%d frames written to %s\n", frames, argv[1]);
    return frames > 0 ? 0 : 1;
}
