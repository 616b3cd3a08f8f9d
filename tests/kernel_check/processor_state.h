// What a kernel must leave behind in the processor, and a call that
// survives an instruction the processor lacks.
#pragma once

#include <cstdint>
#include <functional>

namespace zeverive {
namespace check {

// The x87 tag word: 0xffff when all eight registers are empty, which is
// what FEMMS leaves and what the next x87 code expects.
uint16_t x87_tag_word();

// The control part of MXCSR (rounding, exception masks, flush and
// denormals-are-zero), and writing it back. Only where SSE runs.
uint32_t read_mxcsr_control();
void write_mxcsr(uint32_t value);

// Makes a SIGILL inside run_guarded return false instead of ending the
// program; outside it the signal keeps its usual effect.
void install_illegal_instruction_guard();
bool run_guarded(const std::function<void()>& call);

}  // namespace check
}  // namespace zeverive
