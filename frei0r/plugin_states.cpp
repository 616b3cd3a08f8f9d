#include "plugin_states.h"

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

#include "host/working_state.h"
#include "luma/plugin_copies.h"
#include "luma/variant_request.h"

namespace zeverive::frei0r {

struct PluginState {
    FilterTable* table;
    std::unique_ptr<luma::PluginCopy> copy;  // none for the plug-in linked in
};

namespace {

std::mutex states_mutex;
std::condition_variable state_returned;
int users = 0;
// The linked-in plug-in's state first, then the copies; the free ones.
std::vector<std::unique_ptr<PluginState>> states;
std::vector<PluginState*> free_states;
// Set once loading a copy failed: the system will not give more.
bool copies_refused = false;

// The variant the environment asks for, requested from the plug-in; false
// with the reason on stderr when it cannot be had.
bool variant_requested_as_set() {
    const std::optional<std::string> name = luma::variant_in_environment();
    if (!name) return true;
    const std::optional<std::string> problem = luma::request_variant_named(*name);
    if (problem) std::fprintf(stderr, "zeverive frei0r filter: %s\n", problem->c_str());
    return !problem;
}

// A further copy, initialised with the variant the linked-in plug-in
// runs (the one it detected, or the one forced on it), so every state
// runs the same kernels. None when the system refuses.
std::unique_ptr<PluginState> loaded_copy() {
    if (copies_refused) return nullptr;
    try {
        auto copy = std::make_unique<luma::PluginCopy>();
        if (copy->initialise_variant(working_state.variant) == 0) {
            copies_refused = true;
            return nullptr;
        }
        FilterTable* table = &copy->table();
        return std::unique_ptr<PluginState>(new PluginState{table, std::move(copy)});
    } catch (const std::exception&) {
        copies_refused = true;
        return nullptr;
    }
}

}  // namespace

bool acquire_plugin() {
    std::lock_guard<std::mutex> lock(states_mutex);
    if (users == 0) {
        FilterTable* table = GetFilterTable();
        if (!variant_requested_as_set() || table->initialise() == 0) return false;
        states.push_back(std::unique_ptr<PluginState>(new PluginState{table, nullptr}));
        free_states.push_back(states.back().get());
        copies_refused = false;
    }
    ++users;
    return true;
}

void release_plugin() {
    std::lock_guard<std::mutex> lock(states_mutex);
    if (--users > 0) return;
    // No instance is left, so no state is lent.
    for (const std::unique_ptr<PluginState>& state : states) state->table->finalise();
    free_states.clear();
    states.clear();
}

BorrowedState::~BorrowedState() {
    if (!state_) return;
    {
        std::lock_guard<std::mutex> lock(states_mutex);
        free_states.push_back(state_);
    }
    state_returned.notify_one();
}

void BorrowedState::apply(HostFilter& filter) {
    state_->table->settings_changed(&filter);
}

void BorrowedState::process(HostFilter& filter, FrameInfo& frame) {
    state_->table->process_frame(&filter, &frame);
}

std::vector<BorrowedState> borrow_states(int wanted) {
    std::vector<BorrowedState> borrowed;
    std::unique_lock<std::mutex> lock(states_mutex);
    state_returned.wait(lock, [] { return !free_states.empty() || !copies_refused; });
    while (static_cast<int>(borrowed.size()) < wanted) {
        if (free_states.empty()) {
            std::unique_ptr<PluginState> copy = loaded_copy();
            if (!copy) break;
            states.push_back(std::move(copy));
            free_states.push_back(states.back().get());
        }
        borrowed.emplace_back(free_states.back());
        free_states.pop_back();
    }
    if (!borrowed.empty()) return borrowed;
    // Loading failed just now and nothing is free: wait for a state.
    state_returned.wait(lock, [] { return !free_states.empty(); });
    borrowed.emplace_back(free_states.back());
    free_states.pop_back();
    return borrowed;
}

}  // namespace zeverive::frei0r
