#include "luma/variant_request.h"

#include <cstdlib>

#include "host/working_state.h"

namespace zeverive::luma {
namespace {

std::string names_of(VariantSet variants) {
    std::string text;
    for (KernelVariant v = 0; v < kVariantCount; ++v) {
        if ((variants & variant_bit(v)) == 0) continue;
        text += text.empty() ? "" : ", ";
        text += kVariantNames[v];
    }
    return text;
}

}  // namespace

std::optional<std::string> variant_in_environment() {
    const char* value = std::getenv(kVariantVariable);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

std::optional<std::string> request_variant_named(const std::string& name) {
    const std::string setting = std::string(kVariantVariable) + "=" + name;
    for (KernelVariant v = 0; v < kVariantCount; ++v) {
        if (name != kVariantNames[v]) continue;
        const VariantSet runs = usable_variants().runs;
        if ((runs & variant_bit(v)) == 0)
            return setting + ": this processor does not run the " + name + " kernels (it runs " + names_of(runs) + ")";
        request_variant(v);
        return std::nullopt;
    }
    return setting + ": no such kernel variant in this build (" + names_of((VariantSet{1} << kVariantCount) - 1) +
           ")";
}

KernelVariant variant_in_use() {
    static const UsableVariants usable = usable_variants();
    return variant_taken(usable);
}

}  // namespace zeverive::luma
