// --list: the plug-in's registration record as a user reads it.
#pragma once

#include <ostream>

#include "plugin/plugin_host.h"

namespace zeverive::cli {

// Name, information string, then one line per slider and for the check
// box: index, option, default, range and the label in UTF-8.
void print_record(const PluginLibrary& library, std::ostream& out);

}  // namespace zeverive::cli
