#include "shared_plugin.h"

#include <mutex>

namespace zeverive::frei0r {
namespace {

std::mutex plugin_mutex;
int users = 0;

}  // namespace

bool acquire_plugin() {
    std::lock_guard<std::mutex> lock(plugin_mutex);
    if (users == 0 && GetFilterTable()->initialise() == 0) return false;
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
