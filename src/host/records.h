// The records exchanged with the host editor, laid out word for word as the
// host reads and writes them. On the 32-bit builds every offset below is the
// one the host uses; the 64-bit Linux build keeps the same field order with
// native pointer widths (its only host is our own program).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__i386__)
#define ZEVERIVE_CDECL __attribute__((cdecl))
#else
#define ZEVERIVE_CDECL
#endif

extern "C" {

// One pixel of the host frame. Y is on a 0..4096 scale, Cb and Cr on
// -2048..2048; the denoiser touches only Y (the coefficient display also
// writes Cb and Cr).
struct YcPixel {
    int16_t y;
    int16_t cb;
    int16_t cr;
};

// The host's per-frame record. The words at offsets 0 and 8 belong to the
// host and are never read.
struct FrameInfo {
    int32_t host_word_0;
    YcPixel* frame_pixels;
    int32_t host_word_8;
    int32_t width;
    int32_t height;
    int32_t row_pitch;  // in pixels: pixel (x, y) is frame_pixels[y * row_pitch + x]
};

struct FilterTable;
// The host hands each callback a record of the same layout as the one we
// register, with its own fields filled in.
typedef FilterTable HostFilter;

typedef int32_t(ZEVERIVE_CDECL* ProcessFrameCallback)(HostFilter* filter, FrameInfo* frame);
typedef int32_t(ZEVERIVE_CDECL* LifecycleCallback)(void);
typedef int32_t(ZEVERIVE_CDECL* SettingsChangedCallback)(HostFilter* filter);
typedef int32_t(ZEVERIVE_CDECL* WindowMessageCallback)(void* window, uint32_t message,
                                                       uintptr_t first_param, intptr_t value_word,
                                                       void* host_value, HostFilter* filter);
// Entries of the host-services table. We only ever call one of them, with the
// filter record as its single argument, and ignore what it returns.
typedef int32_t(ZEVERIVE_CDECL* HostService)(HostFilter* filter);

// Entry of the host-services table that the plug-in calls after a remote
// slider change, counted from 0.
constexpr int kHostServiceAfterRemoteChange = 21;

constexpr int kSliderCount = 12;
constexpr int kCheckboxCount = 1;

struct FilterTable {
    uint32_t flags;                      // field 1
    uint32_t host_field_2;
    uint32_t host_field_3;
    const char* display_name;            // field 4
    int32_t slider_count;
    const char* const* slider_labels;
    const int32_t* slider_defaults;
    const int32_t* slider_minimums;
    const int32_t* slider_maximums;      // field 9
    int32_t checkbox_count;
    const char* const* checkbox_labels;
    const int32_t* checkbox_defaults;
    ProcessFrameCallback process_frame;  // field 13
    LifecycleCallback initialise;
    LifecycleCallback finalise;
    SettingsChangedCallback settings_changed;
    WindowMessageCallback window_message;
    int32_t* slider_values;              // field 18, supplied by the host
    int32_t* checkbox_values;
    uint32_t host_field_20;
    uint32_t host_field_21;
    const char* information;             // field 22
    uint32_t host_field_23;
    uint32_t host_field_24;
    HostService* host_services;          // field 25, supplied by the host
    uint32_t host_fields_26_to_35[10];
};

// Returns the registration record; the library's only export.
__attribute__((visibility("default"))) FilterTable* ZEVERIVE_CDECL GetFilterTable(void);

}  // extern "C"

#if defined(__i386__)
static_assert(sizeof(YcPixel) == 6, "YcPixel is three 16-bit samples");
static_assert(offsetof(FrameInfo, frame_pixels) == 4, "FrameInfo layout");
static_assert(offsetof(FrameInfo, width) == 12, "FrameInfo layout");
static_assert(offsetof(FrameInfo, height) == 16, "FrameInfo layout");
static_assert(offsetof(FrameInfo, row_pitch) == 20, "FrameInfo layout");
static_assert(offsetof(FilterTable, display_name) == 12, "FilterTable layout");
static_assert(offsetof(FilterTable, slider_count) == 16, "FilterTable layout");
static_assert(offsetof(FilterTable, slider_labels) == 20, "FilterTable layout");
static_assert(offsetof(FilterTable, slider_defaults) == 24, "FilterTable layout");
static_assert(offsetof(FilterTable, slider_minimums) == 28, "FilterTable layout");
static_assert(offsetof(FilterTable, slider_maximums) == 32, "FilterTable layout");
static_assert(offsetof(FilterTable, checkbox_count) == 36, "FilterTable layout");
static_assert(offsetof(FilterTable, checkbox_labels) == 40, "FilterTable layout");
static_assert(offsetof(FilterTable, checkbox_defaults) == 44, "FilterTable layout");
static_assert(offsetof(FilterTable, process_frame) == 48, "FilterTable layout");
static_assert(offsetof(FilterTable, initialise) == 52, "FilterTable layout");
static_assert(offsetof(FilterTable, finalise) == 56, "FilterTable layout");
static_assert(offsetof(FilterTable, settings_changed) == 60, "FilterTable layout");
static_assert(offsetof(FilterTable, window_message) == 64, "FilterTable layout");
static_assert(offsetof(FilterTable, slider_values) == 68, "FilterTable layout");
static_assert(offsetof(FilterTable, checkbox_values) == 72, "FilterTable layout");
static_assert(offsetof(FilterTable, information) == 84, "FilterTable layout");
static_assert(offsetof(FilterTable, host_services) == 96, "FilterTable layout");
static_assert(sizeof(FilterTable) == 140, "FilterTable is 35 words");
#else
static_assert(sizeof(YcPixel) == 6, "YcPixel is three 16-bit samples");
#endif
