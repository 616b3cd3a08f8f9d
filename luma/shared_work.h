// Work over a range shared among threads: contiguous parts of about equal
// size, the first on the calling thread, each on its own thread. Each part
// writes only its own share of the results, so the outcome is the same for
// any number of threads.
#pragma once

#include <cstddef>
#include <functional>

namespace zeverive::luma {

// Calls work(part, from, to) for up to `lanes` parts of [0, count), each at
// least `least` long (one part where count is below twice that), and
// returns once every part is done. What a part throws comes out of here,
// the first part's first; where a thread cannot be started, this thread
// does its part.
void share_work(int lanes, size_t count, size_t least,
                const std::function<void(size_t part, size_t from, size_t to)>& work);

}  // namespace zeverive::luma
