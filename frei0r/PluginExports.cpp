// The frei0r entry points of one plug-in file, built twice: as the filter
// (QB_FREI0R_KIND 0) and as the mixer (1). Everything is forwarded to the
// support library; hosts load and unload these files freely, and call
// f0r_init and f0r_deinit as often as they like (MLT once per service, and
// not at all for transitions), so neither does anything.

#include "frei0r/HostLibrary.h"

#ifndef QB_FREI0R_KIND
#error "QB_FREI0R_KIND must name the plug-in kind"
#endif

#define QBF0R_EXPORT extern "C" __attribute__((visibility("default")))

QBF0R_EXPORT int f0r_init() { return 1; }

QBF0R_EXPORT void f0r_deinit() {}

QBF0R_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  qbf0r_get_plugin_info(QB_FREI0R_KIND, info);
}

QBF0R_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
  qbf0r_get_param_info(QB_FREI0R_KIND, info, param_index);
}

QBF0R_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  return qbf0r_construct(QB_FREI0R_KIND, width, height);
}

QBF0R_EXPORT void f0r_destruct(f0r_instance_t instance) { qbf0r_destruct(instance); }

QBF0R_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
  qbf0r_set_param_value(instance, param, param_index);
}

QBF0R_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
  qbf0r_get_param_value(instance, param, param_index);
}

QBF0R_EXPORT void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe,
                             uint32_t* outframe) {
  qbf0r_update(instance, time, inframe, nullptr, outframe);
}

QBF0R_EXPORT void f0r_update2(f0r_instance_t instance, double time, const uint32_t* inframe1,
                              const uint32_t* inframe2, const uint32_t* /*inframe3*/,
                              uint32_t* outframe) {
  qbf0r_update(instance, time, inframe1, inframe2, outframe);
}
