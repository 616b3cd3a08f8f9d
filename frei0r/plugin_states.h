// The plug-in's working states the filter runs frames in.
//
// The plug-in keeps one working state per loaded copy (its buffers and the
// parameters derived from the sliders) and takes no locks, while a frei0r
// host may hold several instances, call them from several threads, and
// each instance may spread a frame's tiles over several threads. So the
// filter keeps a set of states for the whole process: the plug-in linked
// into the filter, and copies loaded as more threads need one at once
// (luma/plugin_copies.h). A state runs one piece of work at a time, and
// every piece applies its instance's settings first.
#pragma once

#include <vector>

#include "host/records.h"

namespace zeverive::frei0r {

// The first instance to come initialises the plug-in, the last one to go
// finalises it and unloads the copies. acquire_plugin is false when the
// plug-in could not set up its buffers, or when ZEVERIVE_VARIANT names
// kernels it cannot run here (said on stderr): a filter that ran other
// kernels than asked would mislead a comparison. Every copy runs the
// variant the linked-in plug-in runs.
bool acquire_plugin();
void release_plugin();

struct PluginState;

// A state lent to one thread until this goes out of scope.
class BorrowedState {
public:
    explicit BorrowedState(PluginState* state) : state_(state) {}
    BorrowedState(BorrowedState&& other) noexcept : state_(other.state_) { other.state_ = nullptr; }
    BorrowedState& operator=(BorrowedState&&) = delete;
    ~BorrowedState();

    // settings_changed with `filter`'s sliders, in this state.
    void apply(HostFilter& filter);
    // process_frame in this state, with the settings last applied.
    void process(HostFilter& filter, FrameInfo& frame);

private:
    PluginState* state_;
};

// Up to `wanted` states for one frame's work, at least one: those free now,
// and copies loaded for the rest where the system allows. Waits only when
// none is free and no copy can be loaded.
std::vector<BorrowedState> borrow_states(int wanted);

}  // namespace zeverive::frei0r
