// The line pipeline's own loops against their definitions, at the line
// lengths of both size classes, lengths that leave a tail after whole
// vectors, and with both strides: a row of host pixels, where Cb and Cr
// must come through untouched, and a gathered column. Samples live in the
// checker's float lines, two to a float, so the guard bands and the
// comparison of the AVX2 form with the plain one cover them too.

#include <cmath>
#include <cstring>

#include "common/sample_store.h"
#include "cpu/kernel_table.h"
#include "families.h"

namespace zeverive {
namespace check {
namespace {

// Line lengths: both padded lengths, frame sides between and below them,
// and short lines with and without a whole group of eight.
constexpr int kSampleCounts[] = {832, 720, 417, 416, 355, 17, 8, 7, 1};
constexpr int kStrides[] = {kPixelStride, 1};

int floats_for(int samples) {
    return (samples + 1) / 2;
}
int16_t* samples_in(float* line) {
    return reinterpret_cast<int16_t*>(line);
}
const int16_t* samples_in(const float* line) {
    return reinterpret_cast<const int16_t*>(line);
}

// Random 16-bit samples, the range's ends among them, in float storage.
std::vector<float> random_samples(Random& random, int count) {
    std::vector<int16_t> samples(static_cast<size_t>(2 * floats_for(count)));
    for (int16_t& s : samples) {
        const uint32_t pick = random.below(16);
        s = pick == 0 ? int16_t{-32768} : pick == 1 ? int16_t{32767} : static_cast<int16_t>(random.below(65536));
    }
    std::vector<float> storage(static_cast<size_t>(floats_for(count)));
    std::memcpy(storage.data(), samples.data(), storage.size() * sizeof(float));
    return storage;
}

std::string at(const char* what, int index, int got, int wanted) {
    return std::string(what) + " " + std::to_string(index) + ": got " + std::to_string(got) + ", expected " +
           std::to_string(wanted);
}

void check_load(Checker& c, int n) {
    for (int round = 0; round < c.rounds(); ++round) {
        const int padded = n > kSmallLineLength ? kMaxLineLength : kSmallLineLength;
        KernelCase k(c, "load_line", n, round, n);
        GuardedLine pixels(floats_for(n * kPixelStride));
        pixels.copy_from(random_samples(k.random(), n * kPixelStride).data());
        k.reads(pixels);
        for (int s = 0; s < 2; ++s) {
            // Stale values where the padding goes.
            std::vector<float> stale(padded);
            fill_line(k.random(), stale.data(), padded, Spread::kCoefficients);
            k.writes(padded, stale.data());
        }
        k.run([](KernelVariant v) { return line_kernels(v).load; },
              [&](auto load, float* const* out) {
                  for (int s = 0; s < 2; ++s) load(samples_in(pixels.data()), kStrides[s], n, padded, out[s]);
              },
              [&](KernelVariant v, const Lines& got) {
                  for (int s = 0; s < 2; ++s) {
                      for (int j = 0; j < padded; ++j) {
                          const float wanted = j < n ? float(samples_in(pixels.data())[j * kStrides[s]]) : 0.0f;
                          if (bits_of((*got[s])[j]) != bits_of(wanted)) {
                              k.fail(v, "stride " + std::to_string(kStrides[s]) + ", index " + std::to_string(j) +
                                            ": got " + std::to_string((*got[s])[j]) + ", expected " +
                                            std::to_string(wanted));
                              break;
                          }
                      }
                  }
              });
    }
}

// Rebuilt values: mostly picture levels with fractions, the truncation's
// cases (-0.7 to 0, -1.5 to -1) and values beyond the 16-bit range.
void fill_rebuilt(Random& random, float* line, int count) {
    static const float kEdges[] = {-0.7f, -1.5f, 999.9999f, 32767.9f, 40000.0f, -32768.5f, -1.0e9f, -0.0f};
    for (int j = 0; j < count; ++j)
        line[j] = random.chance(8) ? kEdges[random.below(8)] : random.fixed(16, 4) + 2048.0f;
}

struct PhaseSet {
    int count;
    int rotation[kMaxPhaseLines];
};
constexpr PhaseSet kPhaseSets[] = {{1, {0}}, {2, {0, 2}}, {4, {0, 1, 2, 3}}};

int16_t averaged(const PhaseLines& phases, int k, int padded) {
    if (phases.count == 1) return to_sample(phases.line[0][k]);
    double sum = 0.0;
    for (int p = 0; p < phases.count; ++p) sum += phases.line[p][(k - phases.rotation[p] + padded) % padded];
    return to_sample(sum / phases.count);
}

void check_store(Checker& c, int n) {
    for (int round = 0; round < c.rounds(); ++round) {
        const int padded = n > kSmallLineLength ? kMaxLineLength : kSmallLineLength;
        const PhaseSet& set = kPhaseSets[round % 3];
        KernelCase k(c, "store_line", n, round, n * set.count);
        GuardedLine lines[kMaxPhaseLines] = {GuardedLine(padded), GuardedLine(padded), GuardedLine(padded),
                                             GuardedLine(padded)};
        PhaseLines phases = {};
        phases.count = set.count;
        for (int p = 0; p < set.count; ++p) {
            fill_rebuilt(k.random(), lines[p].data(), padded);
            k.reads(lines[p]);
            phases.line[p] = lines[p].data();
            phases.rotation[p] = set.rotation[p];
        }
        // One sample more than the line, which must stay as it was.
        const int extent[2] = {(n + 1) * kPixelStride, n + 1};
        std::vector<float> before[2];
        for (int s = 0; s < 2; ++s) {
            before[s] = random_samples(k.random(), extent[s]);
            k.writes(floats_for(extent[s]), before[s].data());
        }
        k.run([](KernelVariant v) { return line_kernels(v).store; },
              [&](auto store, float* const* out) {
                  for (int s = 0; s < 2; ++s) store(phases, n, padded, samples_in(out[s]), kStrides[s]);
              },
              [&](KernelVariant v, const Lines& got) {
                  for (int s = 0; s < 2; ++s) {
                      const int16_t* result = samples_in(got[s]->data());
                      const int16_t* old = samples_in(before[s].data());
                      for (int i = 0; i < extent[s]; ++i) {
                          const int sample = i / kStrides[s];
                          const bool written = i % kStrides[s] == 0 && sample < n;
                          const int16_t wanted = written ? averaged(phases, sample, padded) : old[i];
                          if (result[i] != wanted) {
                              k.fail(v, at(written ? "sample" : "untouched value", i, result[i], wanted) +
                                            ", stride " + std::to_string(kStrides[s]) + ", phases " +
                                            std::to_string(set.count));
                              break;
                          }
                      }
                  }
              });
    }
}

void check_fill(Checker& c, int length) {
    for (int round = 0; round < c.rounds(); ++round) {
        KernelCase k(c, "fill_mask", length, round, length);
        std::vector<float> stale(length);
        fill_line(k.random(), stale.data(), length, Spread::kSparse);
        k.writes(length, stale.data());
        k.run([](KernelVariant v) { return line_kernels(v).fill; },
              [&](auto fill, float* const* out) { fill(out[0], length); },
              [&](KernelVariant v, const Lines& got) {
                  for (int j = 0; j < length; ++j) {
                      if (bits_of((*got[0])[j]) != bits_of(1.0f)) {
                          k.fail(v, "index " + std::to_string(j) + ": got " + std::to_string((*got[0])[j]));
                          return;
                      }
                  }
              });
    }
}

// A frame of `lines` rows of host pixels, rows a pitch apart that leaves
// room for pixels the group does not take, and the block of 16 columns.
constexpr int kGroup = 16;
constexpr int kColumnCounts[] = {16, 15, 9, 8, 7, 1};

void check_gather(Checker& c, int n) {
    for (int round = 0; round < c.rounds(); ++round) {
        const int columns = kColumnCounts[round % 6];
        const ptrdiff_t pitch = (kGroup + 3) * kPixelStride;
        KernelCase k(c, "gather_columns", n, round, n * columns);
        GuardedLine frame(floats_for(static_cast<int>(n * pitch)));
        frame.copy_from(random_samples(k.random(), static_cast<int>(n * pitch)).data());
        k.reads(frame);
        const int block_samples = kGroup * kMaxLineLength;
        const std::vector<float> stale = random_samples(k.random(), block_samples);
        k.writes(floats_for(block_samples), stale.data());
        k.run([](KernelVariant v) { return line_kernels(v).gather; },
              [&](auto gather, float* const* out) {
                  gather(samples_in(frame.data()), pitch, n, columns, reinterpret_cast<ColumnSamples*>(out[0]));
              },
              [&](KernelVariant v, const Lines& got) {
                  const int16_t* block = samples_in(got[0]->data());
                  const int16_t* old = samples_in(stale.data());
                  for (int i = 0; i < block_samples; ++i) {
                      const int column = i / kMaxLineLength, row = i % kMaxLineLength;
                      const bool written = column < columns && row < n;
                      const int16_t wanted = written ? samples_in(frame.data())[row * pitch + column * kPixelStride] : old[i];
                      if (block[i] != wanted) {
                          k.fail(v, at(written ? "block sample" : "untouched block sample", i, block[i], wanted));
                          return;
                      }
                  }
              });
    }
}

void check_scatter(Checker& c, int n) {
    for (int round = 0; round < c.rounds(); ++round) {
        const int columns = kColumnCounts[round % 6];
        const ptrdiff_t pitch = (kGroup + 3) * kPixelStride;
        KernelCase k(c, "scatter_columns", n, round, n * columns);
        const int block_samples = kGroup * kMaxLineLength;
        GuardedLine block(floats_for(block_samples));
        block.copy_from(random_samples(k.random(), block_samples).data());
        k.reads(block);
        const int frame_samples = static_cast<int>(n * pitch);
        const std::vector<float> before = random_samples(k.random(), frame_samples);
        k.writes(floats_for(frame_samples), before.data());
        k.run([](KernelVariant v) { return line_kernels(v).scatter; },
              [&](auto scatter, float* const* out) {
                  scatter(reinterpret_cast<const ColumnSamples*>(block.data()), n, columns, pitch, samples_in(out[0]));
              },
              [&](KernelVariant v, const Lines& got) {
                  const int16_t* frame = samples_in(got[0]->data());
                  const int16_t* old = samples_in(before.data());
                  for (int i = 0; i < frame_samples; ++i) {
                      const int row = static_cast<int>(i / pitch), place = static_cast<int>(i % pitch);
                      const int column = place / kPixelStride;
                      const bool written = place % kPixelStride == 0 && column < columns;
                      const int16_t wanted = written ? samples_in(block.data())[column * kMaxLineLength + row] : old[i];
                      if (frame[i] != wanted) {
                          k.fail(v, at(written ? "frame Y" : "untouched frame sample", i, frame[i], wanted));
                          return;
                      }
                  }
              });
    }
}

}  // namespace

void check_line_io(Checker& c) {
    if (c.selected("load_line"))
        for (int n : kSampleCounts) check_load(c, n);
    if (c.selected("store_line"))
        for (int n : kSampleCounts) check_store(c, n);
    if (c.selected("fill_mask"))
        for (int length : {kMaxLineLength, kSmallLineLength, 13}) check_fill(c, length);
    if (c.selected("gather_columns"))
        for (int n : kSampleCounts) check_gather(c, n);
    if (c.selected("scatter_columns"))
        for (int n : kSampleCounts) check_scatter(c, n);
}

}  // namespace check
}  // namespace zeverive
