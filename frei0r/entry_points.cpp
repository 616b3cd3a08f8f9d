// The frei0r interface. Hosts call it from C and nothing may escape into
// them: a frame that cannot be processed goes out unchanged, and a call
// with a null instance, parameter or frame does nothing.
// The header declares the functions without C linkage of its own.
extern "C" {
#include <frei0r.h>
}

#include <cstring>
#include <new>

#include "instance.h"
#include "parameters.h"
#include "plugin_states.h"

using zeverive::frei0r::Instance;

extern "C" {

__attribute__((visibility("default"))) int f0r_init() {
    return 1;
}

__attribute__((visibility("default"))) void f0r_deinit() {}

__attribute__((visibility("default"))) void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    if (!info) return;
    info->name = "zeverive";
    info->author = "Zeverive developers";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = 1;
    info->minor_version = 0;
    info->num_params = zeverive::frei0r::kParameterCount;
    info->explanation = "Wavelet denoiser for the luminance; by default it measures the noise and sets itself";
}

// An index outside the list gets empty texts, never null ones a host would
// print or compare; setting such a parameter does nothing.
__attribute__((visibility("default"))) void f0r_get_param_info(f0r_param_info_t* info, int index) {
    if (!info) return;
    const char* name = zeverive::frei0r::parameter_name(index);
    const char* explanation = zeverive::frei0r::parameter_explanation(index);
    info->name = name ? name : "";
    info->type = zeverive::frei0r::parameter_type(index);
    info->explanation = explanation ? explanation : "";
}

__attribute__((visibility("default"))) f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    if (width == 0 || height == 0) return nullptr;
    if (!zeverive::frei0r::acquire_plugin()) return nullptr;
    try {
        return new Instance(static_cast<int>(width), static_cast<int>(height));
    } catch (const std::exception&) {
        zeverive::frei0r::release_plugin();
        return nullptr;
    }
}

__attribute__((visibility("default"))) void f0r_destruct(f0r_instance_t instance) {
    // Only a constructed instance holds the plug-in.
    if (!instance) return;
    delete static_cast<Instance*>(instance);
    zeverive::frei0r::release_plugin();
}

__attribute__((visibility("default"))) void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param,
                                                                int index) {
    if (!instance || !param) return;
    auto* self = static_cast<Instance*>(instance);
    if (zeverive::frei0r::parameter_type(index) == F0R_PARAM_STRING) {
        self->set_text(index, *static_cast<const f0r_param_string*>(param));
    } else {
        self->set_parameter(index, *static_cast<const double*>(param));
    }
}

__attribute__((visibility("default"))) void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param,
                                                                int index) {
    if (!instance || !param) return;
    const auto* self = static_cast<const Instance*>(instance);
    if (zeverive::frei0r::parameter_type(index) == F0R_PARAM_STRING) {
        *static_cast<f0r_param_string*>(param) = const_cast<char*>(self->text(index));
    } else {
        *static_cast<double*>(param) = self->parameter(index);
    }
}

__attribute__((visibility("default"))) void f0r_update(f0r_instance_t instance, double, const uint32_t* inframe,
                                                       uint32_t* outframe) {
    if (!instance || !inframe || !outframe) return;
    auto* self = static_cast<Instance*>(instance);
    try {
        self->update(inframe, outframe);
    } catch (const std::exception&) {
        if (outframe != inframe) std::memcpy(outframe, inframe, self->frame_bytes());
    }
}

}  // extern "C"
