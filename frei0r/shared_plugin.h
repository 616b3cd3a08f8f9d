// The plug-in keeps one working state per process (its buffers and the
// parameters derived from the sliders) and takes no locks, while a frei0r
// host may hold several instances and call them from several threads.
// Every instance reaches the plug-in through here: the first one to come
// initialises it, the last one to go finalises it, and each frame runs
// with the instance's own settings applied first, one frame at a time.
#pragma once

#include <functional>

#include "host/records.h"

namespace zeverive::frei0r {

// False when the plug-in could not set up its buffers, or when
// ZEVERIVE_VARIANT names kernels it cannot run here (said on stderr): a
// filter that ran other kernels than asked would mislead a comparison.
bool acquire_plugin();
void release_plugin();

// settings_changed with `filter`'s sliders, then `work`, which may call
// process_frame with `filter` as often as it needs, all while no other
// instance's frame runs.
void run_exclusively(HostFilter& filter, const std::function<void()>& work);

}  // namespace zeverive::frei0r
