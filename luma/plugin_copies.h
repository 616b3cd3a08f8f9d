// Copies of the plug-in in one process, each with working state of its own.
//
// The plug-in keeps its working state (the parameters derived from the
// sliders, the line buffers) in static storage and takes no locks, so one
// loaded copy of its code runs one frame at a time. A front end that wants
// several frames or tiles denoised at once in one process loads further
// copies and drives each from one thread at a time; the plug-in and its
// one-state contract stay as they are.
//
// Every copy is the same module, the build's zeverive-copy.so, carried
// inside the program or filter and written to a memory file of its own:
// the dynamic loader takes a file it has not loaded for a new module, with
// statics of its own, in the process's one namespace, where the C library
// and the C++ runtime stay shared. (Loading one file into new namespaces
// with dlmopen works too, but loads the C library again for every copy and
// runs out of static TLS after about ten.) A memory file's name is its
// descriptor, which stays open while the copy is loaded, so no two copies
// ever have the same name.
#pragma once

#include <cstdint>

#include "cpu/detect.h"
#include "host/records.h"

namespace zeverive::luma {

class PluginCopy {
public:
    // Loads a copy; throws std::runtime_error saying what the system
    // refused.
    PluginCopy();
    ~PluginCopy();
    PluginCopy(const PluginCopy&) = delete;
    PluginCopy& operator=(const PluginCopy&) = delete;

    // The copy's registration record; its callbacks reach this copy's
    // working state only.
    FilterTable& table() const { return *table_; }

    // initialise with `variant` where this processor runs it, else with
    // the copy's own choice, for this and every later initialise of the
    // copy: 1 when every buffer exists, 0 otherwise or when the build has
    // no such variant. Given the variant the built-in plug-in runs, every
    // copy runs the same kernels.
    int32_t initialise_variant(KernelVariant variant) const;

private:
    int file_;
    void* module_;
    FilterTable* table_;
    int32_t (*initialise_variant_)(int32_t);
};

}  // namespace zeverive::luma
