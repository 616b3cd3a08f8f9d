// Four floats on a 16-byte boundary through which the SSE shrink kernels
// broadcast their threshold. Allocated by initialise when the SSE variant is
// chosen; null otherwise.
#pragma once

namespace zeverive {

extern float* sse_scratch;

}  // namespace zeverive
