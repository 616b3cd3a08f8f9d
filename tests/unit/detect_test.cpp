// Processor detection and the guarded instruction trial. The test runner
// runs the i386 build under several emulated processors and says which
// variant each must get through ZEVERIVE_EXPECT_VARIANT.

#include <gtest/gtest.h>

#include <cstdlib>

#include "cpu/detect.h"
#include "host/callbacks.h"
#include "host/working_state.h"
#include "platform/x87_precision.h"

namespace {

using namespace zeverive;

__attribute__((naked, noinline)) void undefined_instruction() {
    __asm__("ud2\n\tret");
}

__attribute__((naked, noinline)) void no_operation() {
    __asm__("nop\n\tret");
}

TEST(Detection, ChoosesTheVariantTheProcessorReports) {
    const char* expected = std::getenv("ZEVERIVE_EXPECT_VARIANT");
#if defined(__x86_64__)
    // Every x86-64 processor has SSE; AVX2 goes first where it is usable.
    const int want = expected ? std::atoi(expected) : read_processor_features().avx2 ? kVariantAvx2 : kVariantSse;
#else
    if (!expected) GTEST_SKIP() << "set ZEVERIVE_EXPECT_VARIANT for the processor this runs on";
    const int want = std::atoi(expected);
#endif
    EXPECT_EQ(choose_variant(), want);
    ASSERT_EQ(initialise(), 1);
    EXPECT_EQ(working_state.variant, want);
    finalise();
}

TEST(Detection, GuardContainsAFaultingInstructionAndRestoresTheHandler) {
    EXPECT_FALSE(instruction_runs(undefined_instruction));
    EXPECT_TRUE(instruction_runs(no_operation));
    EXPECT_FALSE(instruction_runs(undefined_instruction));
    // With the previous handler back, a second guard still works, and the
    // probe agrees with what CPUID says about SSE on these processors.
    EXPECT_EQ(sse_runs(), read_processor_features().sse);
}

#if defined(__i386__)
// A fault inside the trial must not leave the x87 unit at the signal
// handler's 64-bit precision.
TEST(Detection, AContainedFaultKeepsTheX87Precision) {
    ASSERT_FALSE(instruction_runs(undefined_instruction));
    EXPECT_EQ(zeverive::x87_control_word() & zeverive::kX87PrecisionMask, zeverive::kX87Precision53);
}
#endif

}  // namespace
