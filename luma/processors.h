// How many processors this process may run on: the default number of
// threads or workers of both front ends.
#pragma once

namespace zeverive::luma {

// Those of the process's affinity mask, at least 1.
int available_processors();

}  // namespace zeverive::luma
