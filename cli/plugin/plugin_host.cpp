#include "plugin/plugin_host.h"

#include "failure.h"

#if defined(ZEVERIVE_PLUGIN_COPIES)
#include <memory>

#include "host/working_state.h"
#include "luma/plugin_copies.h"
#endif

namespace zeverive::cli {
namespace {

// What the host does after a remote slider change (redraw its sliders)
// has no counterpart in a program without windows.
int32_t ZEVERIVE_CDECL host_service_nothing(HostFilter*) {
    return 0;
}

void check_record(const FilterTable* table, const std::string& name) {
    if (!table) throw Failure(name + ": GetFilterTable returned no record");
    if (table->slider_count != kSliderCount || table->checkbox_count != kCheckboxCount) {
        throw Failure(name + ": the record has " + std::to_string(table->slider_count) + " sliders and " +
                      std::to_string(table->checkbox_count) + " check boxes; this program drives " +
                      std::to_string(kSliderCount) + " and " + std::to_string(kCheckboxCount));
    }
    if (!table->slider_labels || !table->slider_defaults || !table->slider_minimums || !table->slider_maximums ||
        !table->checkbox_labels || !table->checkbox_defaults || !table->process_frame || !table->initialise ||
        !table->finalise || !table->settings_changed || !table->window_message) {
        throw Failure(name + ": the record lacks a slider table or a callback");
    }
}

}  // namespace

PluginLibrary PluginLibrary::built_in() {
    FilterTable* table = GetFilterTable();
    check_record(table, "built-in plug-in");
    PluginLibrary library(nullptr, table, "built-in plug-in");
    library.built_in_ = true;
    return library;
}

PluginLibrary PluginLibrary::load(const std::string& path) {
    PluginFile file = open_plugin_file(path);
    FilterTable* table = file.get_filter_table();
    try {
        check_record(table, path);
    } catch (...) {
        file.close();
        throw;
    }
    return PluginLibrary(std::move(file.close), table, path);
}

#if defined(ZEVERIVE_PLUGIN_COPIES)
PluginLibrary PluginLibrary::copy_of_built_in() {
    std::shared_ptr<luma::PluginCopy> copy;
    try {
        copy = std::make_shared<luma::PluginCopy>();
    } catch (const std::runtime_error& error) {
        throw Failure(error.what());
    }
    PluginLibrary library([copy]() mutable { copy.reset(); }, &copy->table(), "built-in plug-in");
    // The variant the built-in plug-in chose (or was made to use), so every
    // copy runs the same kernels.
    const KernelVariant variant = working_state.variant;
    library.initialise_ = [copy, variant] { return copy->initialise_variant(variant); };
    return library;
}
#endif

PluginLibrary::PluginLibrary(PluginLibrary&& other) noexcept
    : close_(std::move(other.close_)),
      table_(other.table_),
      name_(std::move(other.name_)),
      initialise_(std::move(other.initialise_)),
      built_in_(other.built_in_) {
    other.close_ = nullptr;
}

PluginLibrary::~PluginLibrary() {
    if (close_) close_();
}

HostSettings default_settings(const FilterTable& table) {
    HostSettings settings;
    for (int i = 0; i < kSliderCount; ++i) settings.sliders[i] = table.slider_defaults[i];
    for (int i = 0; i < kCheckboxCount; ++i) settings.checkboxes[i] = table.checkbox_defaults[i];
    return settings;
}

PluginSession::PluginSession(const PluginLibrary& library, const HostSettings& settings)
    : filter_(library.table()), sliders_(settings.sliders), checkboxes_(settings.checkboxes) {
    services_.fill(host_service_nothing);
    filter_.slider_values = sliders_.data();
    filter_.checkbox_values = checkboxes_.data();
    filter_.host_services = services_.data();

    if (library.initialise() == 0)
        throw Failure(library.name() + ": initialise failed (the plug-in could not allocate its buffers)");
    deliver(settings);
}

void PluginSession::apply(const HostSettings& settings) {
    sliders_ = settings.sliders;
    checkboxes_ = settings.checkboxes;
    deliver(settings);
}

void PluginSession::deliver(const HostSettings& settings) {
    filter_.settings_changed(&filter_);
    for (const WindowMessage& message : settings.messages) {
        filter_.window_message(nullptr, message.number, 0,
                               static_cast<intptr_t>(static_cast<int32_t>(message.value)), nullptr, &filter_);
    }
}

PluginSession::~PluginSession() {
    filter_.finalise();
}

void PluginSession::process(FrameInfo& frame) {
    filter_.process_frame(&filter_, &frame);
}

}  // namespace zeverive::cli
