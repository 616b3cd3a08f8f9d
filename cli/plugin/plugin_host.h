// The host's side of the plug-in interface: finding the registration
// record, and one plug-in instance driven through its five callbacks with a
// HostFilter that this program owns.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/records.h"

namespace zeverive::cli {

// A plug-in file as the platform's loader opened it: its GetFilterTable,
// and what closes the file again.
struct PluginFile {
    std::function<FilterTable*()> get_filter_table;
    std::function<void()> close;
};

// Opens a plug-in file; throws Failure naming the file when it cannot. Each
// build links one way of opening: dlopen for shared libraries
// (plugin_file_dl.cpp), or, in the i386 test build, the PE loader for
// zeverive.auf.
PluginFile open_plugin_file(const std::string& path);
// What open_plugin_file takes in this build, for the help text.
extern const char* const kPluginFileKind;

// Where the record came from: the plug-in built into this program, or a
// plug-in file, of which only GetFilterTable is used.
class PluginLibrary {
public:
    static PluginLibrary built_in();
    // Throws Failure when the file cannot be loaded, has no GetFilterTable,
    // or its record is not one this program can drive.
    static PluginLibrary load(const std::string& path);
#if defined(ZEVERIVE_PLUGIN_COPIES)
    // A further copy of the built-in plug-in, with working state of its
    // own (luma/plugin_copies.h), initialised with the kernel variant the
    // built-in plug-in runs, so it must come after the built-in plug-in's
    // session has begun. Throws Failure when the system refuses.
    static PluginLibrary copy_of_built_in();
#endif

    PluginLibrary(PluginLibrary&& other) noexcept;
    PluginLibrary& operator=(PluginLibrary&&) = delete;
    ~PluginLibrary();

    FilterTable& table() const { return *table_; }
    // "built-in plug-in" or the file's path, for messages.
    const std::string& name() const { return name_; }
    // Whether this is the plug-in built into the program, of which copies
    // can be made.
    bool built_in_plugin() const { return built_in_; }
    // The plug-in's initialise, or what stands for it.
    int32_t initialise() const { return initialise_ ? initialise_() : table_->initialise(); }

private:
    PluginLibrary(std::function<void()> close, FilterTable* table, std::string name)
        : close_(std::move(close)), table_(table), name_(std::move(name)) {}
    std::function<void()> close_;
    FilterTable* table_;
    std::string name_;
    std::function<int32_t()> initialise_;
    bool built_in_ = false;
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
// static and unlocked, so at most one session may exist per loaded copy of
// it at a time; parallel work uses copies of the built-in plug-in, or one
// process per session.
class PluginSession {
public:
    // initialise; the sliders and check box set; settings_changed; then
    // each message through window_message, in order. Throws Failure if
    // initialise reports that it could not set up.
    PluginSession(const PluginLibrary& library, const HostSettings& settings);
    ~PluginSession();  // finalise
    PluginSession(const PluginSession&) = delete;
    PluginSession& operator=(const PluginSession&) = delete;

    // New sliders and check box for the frames to come, as a host sets
    // them: settings_changed, then the messages again (a remote control's
    // values outlast a change of the others).
    void apply(const HostSettings& settings);

    // process_frame on `frame`, in place.
    void process(FrameInfo& frame);

    // The host's slider values as they stand, after any remote messages.
    const std::array<int32_t, kSliderCount>& sliders() const { return sliders_; }

private:
    // Large enough for any entry a build of the plug-in might call; all of
    // them do nothing.
    static constexpr int kHostServiceCount = 32;

    void deliver(const HostSettings& settings);

    HostFilter filter_;
    std::array<int32_t, kSliderCount> sliders_;
    std::array<int32_t, kCheckboxCount> checkboxes_;
    std::array<HostService, kHostServiceCount> services_;
};

}  // namespace zeverive::cli
