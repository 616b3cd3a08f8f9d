// A stand-in plug-in for testing the host program. Its record has slider
// defaults and ranges of its own, so tests can tell that the host reads
// them from the record; with "Mode" at 0 it leaves frames untouched, and at
// 1 it writes what it was given into the first pixels' luma:
//
//   pixels 0..11   slider_values as process_frame sees them
//   pixel  12      checkbox_values[0]
//   pixel  13      settings_changed calls so far in this process
//   pixel  14      initialise calls so far in this process
//   pixel  15      window messages received so far
//   pixel  16      frames processed before this one in this process
//   pixels 17..19  width, height and row_pitch of the frame
//   pixels 20..    each message received: number, value low half, value
//                  high half
//
// With ZEVERIVE_PROBE_LOG naming a file, every callback appends a line
// "PID CALLBACK" to it. ZEVERIVE_PROBE_FAIL_INITIALISE makes initialise
// report failure; ZEVERIVE_PROBE_ABORT_AT=N makes the process that gets
// its frame N (counted per process, from 0) abort, as a crashing plug-in
// would.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "host/records.h"
#include "host/slider_index.h"

namespace {

int settings_calls = 0;
int initialise_calls = 0;
int frames_seen = 0;
constexpr int kMaxMessages = 8;
int message_count = 0;
uint32_t messages[kMaxMessages][2];

void log_call(const char* what) {
    const char* path = std::getenv("ZEVERIVE_PROBE_LOG");
    if (!path) return;
    if (std::FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, "%ld %s\n", static_cast<long>(getpid()), what);
        std::fclose(file);
    }
}

int32_t probe_process_frame(HostFilter* filter, FrameInfo* frame) {
    log_call("process_frame");
    if (const char* abort_at = std::getenv("ZEVERIVE_PROBE_ABORT_AT")) {
        if (std::atoi(abort_at) == frames_seen) std::abort();
    }
    const int32_t* sliders = filter->slider_values;
    if (sliders[kSliderMode] == 1) {
        int values[64];
        int n = 0;
        for (int i = 0; i < kSliderCount; ++i) values[n++] = sliders[i];
        values[n++] = filter->checkbox_values[0];
        values[n++] = settings_calls;
        values[n++] = initialise_calls;
        values[n++] = message_count;
        values[n++] = frames_seen;
        values[n++] = frame->width;
        values[n++] = frame->height;
        values[n++] = frame->row_pitch;
        for (int m = 0; m < message_count && m < kMaxMessages; ++m) {
            values[n++] = static_cast<int>(messages[m][0]);
            values[n++] = static_cast<int>(messages[m][1] & 0xFFFF);
            values[n++] = static_cast<int>(messages[m][1] >> 16);
        }
        for (int i = 0; i < n && i < frame->width; ++i) frame->frame_pixels[i].y = static_cast<int16_t>(values[i]);
    }
    ++frames_seen;
    return 1;
}

int32_t probe_initialise() {
    log_call("initialise");
    ++initialise_calls;
    return std::getenv("ZEVERIVE_PROBE_FAIL_INITIALISE") ? 0 : 1;
}

int32_t probe_finalise() {
    log_call("finalise");
    return 1;
}

int32_t probe_settings_changed(HostFilter*) {
    log_call("settings_changed");
    ++settings_calls;
    return 1;
}

// Records the message, then behaves like the real plug-in's strength
// message: the host service after the change, then settings_changed
// through the record the host passed.
int32_t probe_window_message(void*, uint32_t message, uintptr_t, intptr_t value_word, void*, HostFilter* filter) {
    log_call("window_message");
    if (message_count < kMaxMessages) {
        messages[message_count][0] = message;
        messages[message_count][1] = static_cast<uint32_t>(value_word);
    }
    ++message_count;
    filter->slider_values[kSliderStrength] = static_cast<int32_t>(static_cast<uint32_t>(value_word) & 0xFFFF);
    filter->host_services[kHostServiceAfterRemoteChange](filter);
    filter->settings_changed(filter);
    return 0;
}

const char* const labels[kSliderCount] = {
    "Mode", "Probe1", "Probe2", "Probe3", "Probe4", "Probe5",
    "Probe6", "Probe7", "Probe8", "\x93\x4B\x97\x70\x93\x78%", "Probe10", "Probe11",
};
const int32_t defaults[kSliderCount] = {0, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0};
const int32_t minimums[kSliderCount] = {0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const int32_t maximums[kSliderCount] = {1, 7, 60, 70, 80, 90, 100, 110, 120, 130, 140, 0};
const char* const checkbox_labels[kCheckboxCount] = {"ProbeBox"};
const int32_t checkbox_defaults[kCheckboxCount] = {1};

FilterTable table = {
    0x00080000u, 0, 0, "Probe", kSliderCount, labels, defaults, minimums, maximums,
    kCheckboxCount, checkbox_labels, checkbox_defaults, probe_process_frame, probe_initialise,
    probe_finalise, probe_settings_changed, probe_window_message, nullptr, nullptr, 0, 0,
    "probe plug-in for the host program's tests", 0, 0, nullptr, {},
};

}  // namespace

extern "C" FilterTable* GetFilterTable(void) {
    return &table;
}
