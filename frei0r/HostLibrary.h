// What the support library (quorvant_blur/libquorvant_blur_frei0r.so) offers
// the two plug-in files: the frei0r calls, with the plug-in kind as their
// first argument. The host code lives once per process there, so a host
// that loads both plug-ins still sets the effect up once.
#pragma once

#include "frei0r/Frei0r.h"

#define QBF0R_API extern "C" __attribute__((visibility("default")))

// kind: 0 filter, 1 mixer (qbfrei0r::PluginKind).
QBF0R_API void qbf0r_get_plugin_info(int kind, f0r_plugin_info_t* info);
QBF0R_API void qbf0r_get_param_info(int kind, f0r_param_info_t* info, int param_index);
QBF0R_API f0r_instance_t qbf0r_construct(int kind, unsigned int width, unsigned int height);
QBF0R_API void qbf0r_destruct(f0r_instance_t instance);
QBF0R_API void qbf0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int param_index);
QBF0R_API void qbf0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int param_index);
QBF0R_API void qbf0r_update(f0r_instance_t instance, double time, const uint32_t* inframe1,
                            const uint32_t* inframe2, uint32_t* outframe);
