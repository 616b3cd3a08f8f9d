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
    EXPECT_EQ(usable_variants().chosen, want);
    EXPECT_NE(usable_variants().runs & variant_bit(want), 0u);
    ASSERT_EQ(initialise(), 1);
    EXPECT_EQ(working_state.variant, want);
    finalise();
}

// Processors the machine running the tests is not: every combination of
// what CPUID reports and the SSE trial's outcome.
TEST(Detection, TheRuleForEachProcessor) {
    const VariantSet x87 = variant_bit(kVariantX87), amd = variant_bit(kVariant3DNow), sse = variant_bit(kVariantSse);
#if defined(__x86_64__)
    const VariantSet portable_3dnow = amd;  // the two-lane layer runs everywhere
#else
    const VariantSet portable_3dnow = 0;
#endif
    struct Case {
        ProcessorFeatures features;
        bool trial;
        VariantSet runs;
        KernelVariant chosen;
    };
    const Case cases[] = {
        {{false, false, false}, false, x87 | portable_3dnow, kVariantX87},
        {{false, true, false}, false, x87 | amd, kVariant3DNow},
        {{true, false, false}, true, x87 | sse | portable_3dnow, kVariantSse},
        {{true, true, false}, true, x87 | amd | sse, kVariantSse},
        // SSE that the operating system refuses: x87, never 3DNow!.
        {{true, true, false}, false, x87 | amd, kVariantX87},
        {{true, false, false}, false, x87 | portable_3dnow, kVariantX87},
#if defined(__x86_64__)
        {{true, false, true}, true, x87 | amd | sse | variant_bit(kVariantAvx2), kVariantAvx2},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "sse " << c.features.sse << ", 3dnow " << c.features.amd_3dnow
                                          << ", avx2 " << c.features.avx2 << ", trial " << c.trial);
        const UsableVariants usable = usable_variants_for(c.features, c.trial);
        EXPECT_EQ(usable.runs, c.runs);
        EXPECT_EQ(usable.chosen, c.chosen);
    }
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
