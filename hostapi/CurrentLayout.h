// The current layout as 64-bit hosts read it: every size and offset below was
// measured on 64-bit Windows from the public SDK headers (plug-in version
// 13.28, MSVC and mingw record layout alike). Linux x86-64 lays the records
// out the same way. Included by PluginApi.h only.
#pragma once

#define QB_LAYOUT(record, field, offset) \
  static_assert(offsetof(record, field) == (offset), #record "." #field " offset")
#define QB_SIZE(record, size) static_assert(sizeof(record) == (size), #record " size")

QB_SIZE(PF_LayerDef, 120);
QB_LAYOUT(PF_LayerDef, reserved0, 0);
QB_LAYOUT(PF_LayerDef, reserved1, 8);
QB_LAYOUT(PF_LayerDef, world_flags, 16);
QB_LAYOUT(PF_LayerDef, data, 24);
QB_LAYOUT(PF_LayerDef, rowbytes, 32);
QB_LAYOUT(PF_LayerDef, width, 36);
QB_LAYOUT(PF_LayerDef, height, 40);
QB_LAYOUT(PF_LayerDef, extent_hint, 44);
QB_LAYOUT(PF_LayerDef, platform_ref, 64);
QB_LAYOUT(PF_LayerDef, reserved_long1, 72);
QB_LAYOUT(PF_LayerDef, reserved_long4, 80);
QB_LAYOUT(PF_LayerDef, pix_aspect_ratio, 88);
QB_LAYOUT(PF_LayerDef, reserved_long2, 96);
QB_LAYOUT(PF_LayerDef, origin_x, 104);
QB_LAYOUT(PF_LayerDef, origin_y, 108);
QB_LAYOUT(PF_LayerDef, reserved_long3, 112);
QB_LAYOUT(PF_LayerDef, dephault, 116);

QB_SIZE(PF_RenderRequest, 44);
QB_LAYOUT(PF_RenderRequest, rect, 0);
QB_LAYOUT(PF_RenderRequest, field, 16);
QB_LAYOUT(PF_RenderRequest, channel_mask, 20);
QB_LAYOUT(PF_RenderRequest, preserve_rgb_of_zero_alpha, 24);
QB_LAYOUT(PF_RenderRequest, unused, 25);
QB_LAYOUT(PF_RenderRequest, reserved, 28);

QB_SIZE(PF_InteractCallbacks, 176);
QB_LAYOUT(PF_InteractCallbacks, checkout_param, 0);
QB_LAYOUT(PF_InteractCallbacks, checkin_param, 8);
QB_LAYOUT(PF_InteractCallbacks, add_param, 16);
QB_LAYOUT(PF_InteractCallbacks, abort, 24);
QB_LAYOUT(PF_InteractCallbacks, progress, 32);
QB_LAYOUT(PF_InteractCallbacks, register_ui, 40);
QB_LAYOUT(PF_InteractCallbacks, checkout_layer_audio, 48);
QB_LAYOUT(PF_InteractCallbacks, checkin_layer_audio, 56);
QB_LAYOUT(PF_InteractCallbacks, get_audio_data, 64);
QB_LAYOUT(PF_InteractCallbacks, reserved_str, 72);
QB_LAYOUT(PF_InteractCallbacks, reserved, 96);

QB_SIZE(PF_PixelFloat, 16);
QB_LAYOUT(PF_PixelFloat, alpha, 0);
QB_LAYOUT(PF_PixelFloat, red, 4);
QB_LAYOUT(PF_PixelFloat, green, 8);
QB_LAYOUT(PF_PixelFloat, blue, 12);

QB_SIZE(PF_SoundWorld, 32);
QB_LAYOUT(PF_SoundWorld, fi, 0);
QB_LAYOUT(PF_SoundWorld, num_samples, 16);
QB_LAYOUT(PF_SoundWorld, dataP, 24);

QB_SIZE(PF_SliderDef, 88);
QB_LAYOUT(PF_SliderDef, value, 0);
QB_LAYOUT(PF_SliderDef, value_str, 4);
QB_LAYOUT(PF_SliderDef, value_desc, 36);
QB_LAYOUT(PF_SliderDef, valid_min, 68);
QB_LAYOUT(PF_SliderDef, valid_max, 72);
QB_LAYOUT(PF_SliderDef, slider_min, 76);
QB_LAYOUT(PF_SliderDef, slider_max, 80);
QB_LAYOUT(PF_SliderDef, dephault, 84);

QB_SIZE(PF_FixedSliderDef, 92);
QB_LAYOUT(PF_FixedSliderDef, value, 0);
QB_LAYOUT(PF_FixedSliderDef, value_str, 4);
QB_LAYOUT(PF_FixedSliderDef, value_desc, 36);
QB_LAYOUT(PF_FixedSliderDef, valid_min, 68);
QB_LAYOUT(PF_FixedSliderDef, valid_max, 72);
QB_LAYOUT(PF_FixedSliderDef, slider_min, 76);
QB_LAYOUT(PF_FixedSliderDef, slider_max, 80);
QB_LAYOUT(PF_FixedSliderDef, dephault, 84);
QB_LAYOUT(PF_FixedSliderDef, precision, 88);
QB_LAYOUT(PF_FixedSliderDef, display_flags, 90);

QB_SIZE(PF_FloatSliderDef, 88);
QB_LAYOUT(PF_FloatSliderDef, value, 0);
QB_LAYOUT(PF_FloatSliderDef, phase, 8);
QB_LAYOUT(PF_FloatSliderDef, value_desc, 16);
QB_LAYOUT(PF_FloatSliderDef, valid_min, 48);
QB_LAYOUT(PF_FloatSliderDef, valid_max, 52);
QB_LAYOUT(PF_FloatSliderDef, slider_min, 56);
QB_LAYOUT(PF_FloatSliderDef, slider_max, 60);
QB_LAYOUT(PF_FloatSliderDef, dephault, 64);
QB_LAYOUT(PF_FloatSliderDef, precision, 68);
QB_LAYOUT(PF_FloatSliderDef, display_flags, 70);
QB_LAYOUT(PF_FloatSliderDef, fs_flags, 72);
QB_LAYOUT(PF_FloatSliderDef, curve_tolerance, 76);
QB_LAYOUT(PF_FloatSliderDef, useExponent, 80);
QB_LAYOUT(PF_FloatSliderDef, exponent, 84);

QB_SIZE(PF_CheckBoxDef, 16);
QB_LAYOUT(PF_CheckBoxDef, value, 0);
QB_LAYOUT(PF_CheckBoxDef, dephault, 4);
QB_LAYOUT(PF_CheckBoxDef, reserved, 5);
QB_LAYOUT(PF_CheckBoxDef, reserved1, 6);
QB_LAYOUT(PF_CheckBoxDef, u, 8);

QB_SIZE(PF_PointDef, 20);
QB_LAYOUT(PF_PointDef, x_value, 0);
QB_LAYOUT(PF_PointDef, y_value, 4);
QB_LAYOUT(PF_PointDef, reserved, 8);
QB_LAYOUT(PF_PointDef, restrict_bounds, 11);
QB_LAYOUT(PF_PointDef, x_dephault, 12);
QB_LAYOUT(PF_PointDef, y_dephault, 16);

QB_SIZE(PF_PopupDef, 16);
QB_LAYOUT(PF_PopupDef, value, 0);
QB_LAYOUT(PF_PopupDef, num_choices, 4);
QB_LAYOUT(PF_PopupDef, dephault, 6);
QB_LAYOUT(PF_PopupDef, u, 8);

QB_SIZE(PF_ParamDefUnion, 120);
QB_LAYOUT(PF_ParamDefUnion, ld, 0);
QB_LAYOUT(PF_ParamDefUnion, sd, 0);
QB_LAYOUT(PF_ParamDefUnion, fd, 0);
QB_LAYOUT(PF_ParamDefUnion, ad, 0);
QB_LAYOUT(PF_ParamDefUnion, bd, 0);
QB_LAYOUT(PF_ParamDefUnion, cd, 0);
QB_LAYOUT(PF_ParamDefUnion, td, 0);
QB_LAYOUT(PF_ParamDefUnion, pd, 0);
QB_LAYOUT(PF_ParamDefUnion, fs_d, 0);
QB_LAYOUT(PF_ParamDefUnion, arb_d, 0);
QB_LAYOUT(PF_ParamDefUnion, path_d, 0);
QB_LAYOUT(PF_ParamDefUnion, button_d, 0);
QB_LAYOUT(PF_ParamDefUnion, point3d_d, 0);

QB_SIZE(PF_ParamDef, 176);
QB_LAYOUT(PF_ParamDef, uu, 0);
QB_LAYOUT(PF_ParamDef, ui_flags, 4);
QB_LAYOUT(PF_ParamDef, ui_width, 8);
QB_LAYOUT(PF_ParamDef, ui_height, 10);
QB_LAYOUT(PF_ParamDef, param_type, 12);
QB_LAYOUT(PF_ParamDef, name, 16);
QB_LAYOUT(PF_ParamDef, flags, 48);
QB_LAYOUT(PF_ParamDef, unused, 52);
QB_LAYOUT(PF_ParamDef, u, 56);

QB_SIZE(PF_OutData, 408);
QB_LAYOUT(PF_OutData, my_version, 0);
QB_LAYOUT(PF_OutData, name, 4);
QB_LAYOUT(PF_OutData, global_data, 40);
QB_LAYOUT(PF_OutData, num_params, 48);
QB_LAYOUT(PF_OutData, sequence_data, 56);
QB_LAYOUT(PF_OutData, flat_sdata_size, 64);
QB_LAYOUT(PF_OutData, frame_data, 72);
QB_LAYOUT(PF_OutData, width, 80);
QB_LAYOUT(PF_OutData, height, 84);
QB_LAYOUT(PF_OutData, origin, 88);
QB_LAYOUT(PF_OutData, out_flags, 96);
QB_LAYOUT(PF_OutData, return_msg, 100);
QB_LAYOUT(PF_OutData, start_sampL, 356);
QB_LAYOUT(PF_OutData, dur_sampL, 360);
QB_LAYOUT(PF_OutData, dest_snd, 368);
QB_LAYOUT(PF_OutData, out_flags2, 400);

QB_SIZE(PF_InData, 408);
QB_LAYOUT(PF_InData, inter, 0);
QB_LAYOUT(PF_InData, utils, 176);
QB_LAYOUT(PF_InData, effect_ref, 184);
QB_LAYOUT(PF_InData, quality, 192);
QB_LAYOUT(PF_InData, version, 196);
QB_LAYOUT(PF_InData, serial_num, 200);
QB_LAYOUT(PF_InData, appl_id, 204);
QB_LAYOUT(PF_InData, num_params, 208);
QB_LAYOUT(PF_InData, reserved, 212);
QB_LAYOUT(PF_InData, what_cpu, 216);
QB_LAYOUT(PF_InData, what_fpu, 220);
QB_LAYOUT(PF_InData, current_time, 224);
QB_LAYOUT(PF_InData, time_step, 228);
QB_LAYOUT(PF_InData, total_time, 232);
QB_LAYOUT(PF_InData, local_time_step, 236);
QB_LAYOUT(PF_InData, time_scale, 240);
QB_LAYOUT(PF_InData, field, 244);
QB_LAYOUT(PF_InData, shutter_angle, 248);
QB_LAYOUT(PF_InData, width, 252);
QB_LAYOUT(PF_InData, height, 256);
QB_LAYOUT(PF_InData, extent_hint, 260);
QB_LAYOUT(PF_InData, output_origin_x, 276);
QB_LAYOUT(PF_InData, output_origin_y, 280);
QB_LAYOUT(PF_InData, downsample_x, 284);
QB_LAYOUT(PF_InData, downsample_y, 292);
QB_LAYOUT(PF_InData, pixel_aspect_ratio, 300);
QB_LAYOUT(PF_InData, in_flags, 308);
QB_LAYOUT(PF_InData, global_data, 312);
QB_LAYOUT(PF_InData, sequence_data, 320);
QB_LAYOUT(PF_InData, frame_data, 328);
QB_LAYOUT(PF_InData, start_sampL, 336);
QB_LAYOUT(PF_InData, dur_sampL, 340);
QB_LAYOUT(PF_InData, total_sampL, 344);
QB_LAYOUT(PF_InData, src_snd, 352);
QB_LAYOUT(PF_InData, pica_basicP, 384);
QB_LAYOUT(PF_InData, pre_effect_source_origin_x, 392);
QB_LAYOUT(PF_InData, pre_effect_source_origin_y, 396);
QB_LAYOUT(PF_InData, shutter_phase, 400);

QB_SIZE(PF_SampPB, 104);
QB_LAYOUT(PF_SampPB, x_radius, 0);
QB_LAYOUT(PF_SampPB, y_radius, 4);
QB_LAYOUT(PF_SampPB, area, 8);
QB_LAYOUT(PF_SampPB, src, 16);
QB_LAYOUT(PF_SampPB, samp_behave, 24);
QB_LAYOUT(PF_SampPB, allow_asynch, 28);
QB_LAYOUT(PF_SampPB, motion_blur, 32);
QB_LAYOUT(PF_SampPB, comp_mode, 36);
QB_LAYOUT(PF_SampPB, mask0, 48);
QB_LAYOUT(PF_SampPB, fcm_table, 56);
QB_LAYOUT(PF_SampPB, fcd_table, 64);
QB_LAYOUT(PF_SampPB, reserved, 72);

QB_SIZE(PF_ANSICallbacks, 160);
QB_LAYOUT(PF_ANSICallbacks, atan, 0);
QB_LAYOUT(PF_ANSICallbacks, atan2, 8);
QB_LAYOUT(PF_ANSICallbacks, ceil, 16);
QB_LAYOUT(PF_ANSICallbacks, cos, 24);
QB_LAYOUT(PF_ANSICallbacks, exp, 32);
QB_LAYOUT(PF_ANSICallbacks, fabs, 40);
QB_LAYOUT(PF_ANSICallbacks, floor, 48);
QB_LAYOUT(PF_ANSICallbacks, fmod, 56);
QB_LAYOUT(PF_ANSICallbacks, hypot, 64);
QB_LAYOUT(PF_ANSICallbacks, log, 72);
QB_LAYOUT(PF_ANSICallbacks, log10, 80);
QB_LAYOUT(PF_ANSICallbacks, pow, 88);
QB_LAYOUT(PF_ANSICallbacks, sin, 96);
QB_LAYOUT(PF_ANSICallbacks, sqrt, 104);
QB_LAYOUT(PF_ANSICallbacks, tan, 112);
QB_LAYOUT(PF_ANSICallbacks, sprintf, 120);
QB_LAYOUT(PF_ANSICallbacks, strcpy, 128);
QB_LAYOUT(PF_ANSICallbacks, asin, 136);
QB_LAYOUT(PF_ANSICallbacks, acos, 144);
QB_LAYOUT(PF_ANSICallbacks, ansi_procs, 152);

QB_SIZE(PF_ColorCallbacks, 64);
QB_LAYOUT(PF_ColorCallbacks, RGBtoHLS, 0);
QB_LAYOUT(PF_ColorCallbacks, HLStoRGB, 8);
QB_LAYOUT(PF_ColorCallbacks, RGBtoYIQ, 16);
QB_LAYOUT(PF_ColorCallbacks, YIQtoRGB, 24);
QB_LAYOUT(PF_ColorCallbacks, Luminance, 32);
QB_LAYOUT(PF_ColorCallbacks, Hue, 40);
QB_LAYOUT(PF_ColorCallbacks, Lightness, 48);
QB_LAYOUT(PF_ColorCallbacks, Saturation, 56);

QB_SIZE(struct _PF_UtilCallbacks, 552);
QB_LAYOUT(struct _PF_UtilCallbacks, begin_sampling, 0);
QB_LAYOUT(struct _PF_UtilCallbacks, subpixel_sample, 8);
QB_LAYOUT(struct _PF_UtilCallbacks, area_sample, 16);
QB_LAYOUT(struct _PF_UtilCallbacks, get_batch_func_is_deprecated, 24);
QB_LAYOUT(struct _PF_UtilCallbacks, end_sampling, 32);
QB_LAYOUT(struct _PF_UtilCallbacks, composite_rect, 40);
QB_LAYOUT(struct _PF_UtilCallbacks, blend, 48);
QB_LAYOUT(struct _PF_UtilCallbacks, convolve, 56);
QB_LAYOUT(struct _PF_UtilCallbacks, copy, 64);
QB_LAYOUT(struct _PF_UtilCallbacks, fill, 72);
QB_LAYOUT(struct _PF_UtilCallbacks, gaussian_kernel, 80);
QB_LAYOUT(struct _PF_UtilCallbacks, iterate, 88);
QB_LAYOUT(struct _PF_UtilCallbacks, premultiply, 96);
QB_LAYOUT(struct _PF_UtilCallbacks, premultiply_color, 104);
QB_LAYOUT(struct _PF_UtilCallbacks, new_world, 112);
QB_LAYOUT(struct _PF_UtilCallbacks, dispose_world, 120);
QB_LAYOUT(struct _PF_UtilCallbacks, iterate_origin, 128);
QB_LAYOUT(struct _PF_UtilCallbacks, iterate_lut, 136);
QB_LAYOUT(struct _PF_UtilCallbacks, transfer_rect, 144);
QB_LAYOUT(struct _PF_UtilCallbacks, transform_world, 152);
QB_LAYOUT(struct _PF_UtilCallbacks, host_new_handle, 160);
QB_LAYOUT(struct _PF_UtilCallbacks, host_lock_handle, 168);
QB_LAYOUT(struct _PF_UtilCallbacks, host_unlock_handle, 176);
QB_LAYOUT(struct _PF_UtilCallbacks, host_dispose_handle, 184);
QB_LAYOUT(struct _PF_UtilCallbacks, get_callback_addr, 192);
QB_LAYOUT(struct _PF_UtilCallbacks, app, 200);
QB_LAYOUT(struct _PF_UtilCallbacks, ansi, 208);
QB_LAYOUT(struct _PF_UtilCallbacks, colorCB, 368);
QB_LAYOUT(struct _PF_UtilCallbacks, get_platform_data, 432);
QB_LAYOUT(struct _PF_UtilCallbacks, host_get_handle_size, 440);
QB_LAYOUT(struct _PF_UtilCallbacks, iterate_origin_non_clip_src, 448);
QB_LAYOUT(struct _PF_UtilCallbacks, iterate_generic, 456);
QB_LAYOUT(struct _PF_UtilCallbacks, host_resize_handle, 464);
QB_LAYOUT(struct _PF_UtilCallbacks, subpixel_sample16, 472);
QB_LAYOUT(struct _PF_UtilCallbacks, area_sample16, 480);
QB_LAYOUT(struct _PF_UtilCallbacks, fill16, 488);
QB_LAYOUT(struct _PF_UtilCallbacks, premultiply_color16, 496);
QB_LAYOUT(struct _PF_UtilCallbacks, iterate16, 504);
QB_LAYOUT(struct _PF_UtilCallbacks, iterate_origin16, 512);
QB_LAYOUT(struct _PF_UtilCallbacks, iterate_origin_non_clip_src16, 520);
QB_LAYOUT(struct _PF_UtilCallbacks, get_pixel_data8, 528);
QB_LAYOUT(struct _PF_UtilCallbacks, get_pixel_data16, 536);
QB_LAYOUT(struct _PF_UtilCallbacks, reserved, 544);

QB_SIZE(PF_PreRenderInput, 64);
QB_LAYOUT(PF_PreRenderInput, output_request, 0);
QB_LAYOUT(PF_PreRenderInput, bitdepth, 44);
QB_LAYOUT(PF_PreRenderInput, gpu_data, 48);
QB_LAYOUT(PF_PreRenderInput, what_gpu, 56);
QB_LAYOUT(PF_PreRenderInput, device_index, 60);

QB_SIZE(PF_PreRenderOutput, 56);
QB_LAYOUT(PF_PreRenderOutput, result_rect, 0);
QB_LAYOUT(PF_PreRenderOutput, max_result_rect, 16);
QB_LAYOUT(PF_PreRenderOutput, solid, 32);
QB_LAYOUT(PF_PreRenderOutput, reserved, 33);
QB_LAYOUT(PF_PreRenderOutput, flags, 34);
QB_LAYOUT(PF_PreRenderOutput, pre_render_data, 40);
QB_LAYOUT(PF_PreRenderOutput, delete_pre_render_data_func, 48);

QB_SIZE(PF_CheckoutResult, 76);
QB_LAYOUT(PF_CheckoutResult, result_rect, 0);
QB_LAYOUT(PF_CheckoutResult, max_result_rect, 16);
QB_LAYOUT(PF_CheckoutResult, par, 32);
QB_LAYOUT(PF_CheckoutResult, solid, 40);
QB_LAYOUT(PF_CheckoutResult, reservedB, 41);
QB_LAYOUT(PF_CheckoutResult, ref_width, 44);
QB_LAYOUT(PF_CheckoutResult, ref_height, 48);
QB_LAYOUT(PF_CheckoutResult, reserved, 52);

QB_SIZE(PF_PreRenderCallbacks, 16);
QB_LAYOUT(PF_PreRenderCallbacks, checkout_layer, 0);
QB_LAYOUT(PF_PreRenderCallbacks, GuidMixInPtr, 8);

QB_SIZE(PF_PreRenderExtra, 24);
QB_LAYOUT(PF_PreRenderExtra, input, 0);
QB_LAYOUT(PF_PreRenderExtra, output, 8);
QB_LAYOUT(PF_PreRenderExtra, cb, 16);

QB_SIZE(PF_SmartRenderInput, 72);
QB_LAYOUT(PF_SmartRenderInput, output_request, 0);
QB_LAYOUT(PF_SmartRenderInput, bitdepth, 44);
QB_LAYOUT(PF_SmartRenderInput, pre_render_data, 48);
QB_LAYOUT(PF_SmartRenderInput, gpu_data, 56);
QB_LAYOUT(PF_SmartRenderInput, what_gpu, 64);
QB_LAYOUT(PF_SmartRenderInput, device_index, 68);

QB_SIZE(PF_SmartRenderCallbacks, 24);
QB_LAYOUT(PF_SmartRenderCallbacks, checkout_layer_pixels, 0);
QB_LAYOUT(PF_SmartRenderCallbacks, checkin_layer_pixels, 8);
QB_LAYOUT(PF_SmartRenderCallbacks, checkout_output, 16);

QB_SIZE(PF_SmartRenderExtra, 16);
QB_LAYOUT(PF_SmartRenderExtra, input, 0);
QB_LAYOUT(PF_SmartRenderExtra, cb, 8);

QB_SIZE(PF_LRect, 16);
QB_LAYOUT(PF_LRect, left, 0);
QB_LAYOUT(PF_LRect, top, 4);
QB_LAYOUT(PF_LRect, right, 8);
QB_LAYOUT(PF_LRect, bottom, 12);

QB_SIZE(PF_Rect, 16);
QB_LAYOUT(PF_Rect, left, 0);
QB_LAYOUT(PF_Rect, top, 4);
QB_LAYOUT(PF_Rect, right, 8);
QB_LAYOUT(PF_Rect, bottom, 12);

QB_SIZE(PF_Point, 8);
QB_LAYOUT(PF_Point, h, 0);
QB_LAYOUT(PF_Point, v, 4);

// Handle sizes are 64-bit; the pixel format is a four-byte code.
static_assert(sizeof(PF_HandleSize) == 8, "handle sizes");
static_assert(sizeof(PF_PixelFormat) == 4, "PF_PixelFormat");

#undef QB_LAYOUT
#undef QB_SIZE
