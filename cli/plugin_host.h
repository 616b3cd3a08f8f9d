// The host's side of the plug-in interface: finding the registration
// record, and one plug-in instance driven through its five callbacks with a
// HostFilter that this program owns.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "host/records.h"

namespace zeverive::cli {

// Where the record came from: the plug-in built into this program, or a
// shared library loaded with dlopen, of which only GetFilterTable is used.
class PluginLibrary {
public:
    static PluginLibrary built_in();
    // Throws Failure when the file cannot be loaded, has no GetFilterTable,
    // or its record is not one this program can drive.
    static PluginLibrary load(const std::string& path);

    PluginLibrary(PluginLibrary&& other) noexcept;
    PluginLibrary& operator=(PluginLibrary&&) = delete;
    ~PluginLibrary();

    FilterTable& table() const { return *table_; }
    // "built-in plug-in" or the file's path, for messages.
    const std::string& name() const { return name_; }

private:
    PluginLibrary(void* handle, FilterTable* table, std::string name)
        : handle_(handle), table_(table), name_(std::move(name)) {}
    void* handle_;
    FilterTable* table_;
    std::string name_;
};

// A window message as a remote control sends it.
struct WindowMessage {
    uint32_t number;
    uint32_t value;
};

// What the host keeps for the plug-in: its slider and check-box values,
// and the remote messages to deliver before the first frame.
struct HostSettings {
    std::array<int32_t, kSliderCount> sliders{};
    std::array<int32_t, kCheckboxCount> checkboxes{};
    std::vector<WindowMessage> messages;
};

// The record's defaults.
HostSettings default_settings(const FilterTable& table);

// One running instance of the plug-in. The plug-in's working state is
// process-wide and unlocked, so at most one session may exist in a process
// at a time; parallel work uses one process per session.
class PluginSession {
public:
    // initialise; the sliders and check box set; settings_changed; then
    // each message through window_message, in order. Throws Failure if
    // initialise reports that it could not set up.
    PluginSession(const PluginLibrary& library, const HostSettings& settings);
    ~PluginSession();  // finalise
    PluginSession(const PluginSession&) = delete;
    PluginSession& operator=(const PluginSession&) = delete;

    // process_frame on `frame`, in place.
    void process(FrameInfo& frame);

    // The host's slider values as they stand, after any remote messages.
    const std::array<int32_t, kSliderCount>& sliders() const { return sliders_; }

private:
    // Large enough for any entry a build of the plug-in might call; all of
    // them do nothing.
    static constexpr int kHostServiceCount = 32;

    HostFilter filter_;
    std::array<int32_t, kSliderCount> sliders_;
    std::array<int32_t, kCheckboxCount> checkboxes_;
    std::array<HostService, kHostServiceCount> services_;
};

}  // namespace zeverive::cli
