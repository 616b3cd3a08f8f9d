#include "shared_plugin.h"

#include <cstdio>
#include <mutex>

#include "luma/variant_request.h"

namespace zeverive::frei0r {
namespace {

std::mutex plugin_mutex;
int users = 0;

// The variant the environment asks for, requested from the plug-in; false
// with the reason on stderr when it cannot be had.
bool variant_requested_as_set() {
    const std::optional<std::string> name = luma::variant_in_environment();
    if (!name) return true;
    const std::optional<std::string> problem = luma::request_variant_named(*name);
    if (problem) std::fprintf(stderr, "zeverive frei0r filter: %s\n", problem->c_str());
    return !problem;
}

}  // namespace

bool acquire_plugin() {
    std::lock_guard<std::mutex> lock(plugin_mutex);
    if (users == 0 && (!variant_requested_as_set() || GetFilterTable()->initialise() == 0)) return false;
    ++users;
    return true;
}

void release_plugin() {
    std::lock_guard<std::mutex> lock(plugin_mutex);
    if (--users == 0) GetFilterTable()->finalise();
}

void run_exclusively(HostFilter& filter, const std::function<void()>& work) {
    std::lock_guard<std::mutex> lock(plugin_mutex);
    filter.settings_changed(&filter);
    work();
}

}  // namespace zeverive::frei0r
