// One run of the host program: input through the plug-in to output, with
// the optional preview and PSNR report.
#pragma once

#include "options.h"
#include "plugin/plugin_host.h"

namespace zeverive::cli {

// The exit status; problems are thrown as Failure.
int run(const Options& options, const PluginLibrary& library);

}  // namespace zeverive::cli
