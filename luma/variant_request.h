// ZEVERIVE_VARIANT=x87|3dnow|sse|avx2: the kernels the built-in plug-in
// runs, for comparing variants or avoiding one a processor gets wrong. The
// plug-in reads no environment; each front end asks it through its
// internal hook, which a plug-in loaded from a file does not have.
#pragma once

#include <optional>
#include <string>

#include "cpu/detect.h"

namespace zeverive::luma {

constexpr const char* kVariantVariable = "ZEVERIVE_VARIANT";

// The variable's value; nullopt when it is unset or empty.
std::optional<std::string> variant_in_environment();

// Asks the built-in plug-in to take the variant `name` from its next
// initialise on. Returns the problem, for the user, when no variant has
// that name or this processor does not run it; the plug-in then keeps its
// own choice.
std::optional<std::string> request_variant_named(const std::string& name);

// The variant the built-in plug-in runs from its next initialise on: the
// one requested, where this processor runs it, else the processor's
// choice. The host's own loops
// that have AVX2 forms (level mapping, colour conversion) follow it, so a
// variant asked for holds for everything a run computes.
KernelVariant variant_in_use();

}  // namespace zeverive::luma
