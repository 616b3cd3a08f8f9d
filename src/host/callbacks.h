// The five callbacks the host reaches through the registration record.
// Each runs on the host's thread and never overlaps another.
#pragma once

#include "host/records.h"

extern "C" {

// Denoises the frame's luminance in place; always returns 1.
int32_t ZEVERIVE_CDECL process_frame(HostFilter* filter, FrameInfo* frame);

// Chooses the kernel variant and allocates the working buffers. Returns 1,
// or 0 when a buffer could not be allocated (nothing is then held).
int32_t ZEVERIVE_CDECL initialise(void);

// Releases what initialise allocated; always returns 1.
int32_t ZEVERIVE_CDECL finalise(void);

// Recomputes the working parameters from the host's sliders; returns 1.
int32_t ZEVERIVE_CDECL settings_changed(HostFilter* filter);

// Remote slider control through messages 2024 to 2031; returns 0.
int32_t ZEVERIVE_CDECL window_message(void* window, uint32_t message, uintptr_t first_param,
                                      intptr_t value_word, void* host_value, HostFilter* filter);

}  // extern "C"
