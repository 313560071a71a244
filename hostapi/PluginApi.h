// Our own declarations of the effect plug-in API that the module and the
// software host speak. Names, field order and field types follow the public
// SDK so that the module can be loaded by a real host. Two generations of the
// binary layout, chosen at compile time by the target:
// - 12.x (32-bit Windows, QB_HOSTAPI_12X): records packed to 2 bytes, PF_Rect
//   four 16-bit values {top, left, bottom, right}, handle sizes 32-bit;
// - the current one (every 64-bit build, QB_HOSTAPI_CURRENT): natural
//   alignment, PF_Rect four 32-bit values {left, top, right, bottom}, 64-bit
//   handle sizes, the SmartFX commands and records, "PF World Suite" 2.
// Every size and offset a host reads is asserted at the end of this file.
//
// Conventions: pixels are alpha, red, green, blue; 16-bit channels use full
// scale 32768; PF_Fixed is 16.16. The host's fill/iterate callbacks and the
// SmartFX rectangles treat right and bottom as exclusive. Build rectangles
// with HostRect (field order differs between the generations).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define QB_HOSTAPI_12X 1
#else
#define QB_HOSTAPI_CURRENT 1
#endif

#ifdef QB_HOSTAPI_12X
#pragma pack(push, 2)
#endif

extern "C" {

typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef uint64_t A_u_longlong;
typedef intptr_t A_intptr_t;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef char A_char;
typedef unsigned char A_u_char;
typedef double A_FpLong;
typedef float A_FpShort;
typedef double PF_FpLong;
typedef float PF_FpShort;
typedef int32_t PF_Fixed;
typedef unsigned char PF_Boolean;
typedef A_long PF_Err;
typedef A_long PF_Cmd;
typedef A_long PF_ParamIndex;
typedef A_long PF_ParamType;
typedef A_long PF_ParamFlags;
typedef A_long PF_ParamUIFlags;
typedef A_long PF_Quality;
typedef A_long PF_Field;
typedef A_long PF_InFlags;
typedef A_long PF_OutFlags;
typedef A_long PF_OutFlags2;
typedef A_long PF_WorldFlags;
typedef A_long PF_NewWorldFlags;
typedef A_long PF_KernelFlags;
typedef A_long PF_SampleEdgeBehav;
typedef A_long PF_XferMode;
typedef A_long PF_ParamValue;
typedef void** PF_Handle;
typedef int32_t SPErr;
typedef unsigned char SPBoolean;

// Opaque: the host's identity of one effect instance.
struct _PF_ProgressInfo;
typedef struct _PF_ProgressInfo* PF_ProgPtr;

typedef struct {
  A_long num;
  A_u_long den;
} PF_RationalScale;

typedef struct {
  A_short major;
  A_short minor;
} PF_SpecVersion;

typedef struct {
  A_long left, top, right, bottom;
} PF_LRect;

#ifdef QB_HOSTAPI_12X
// A coordinate of a host rectangle or point.
typedef A_short PF_RectCoord;
typedef struct {
  A_short top, left, bottom, right;
} PF_Rect;

typedef struct {
  A_short v, h;
} PF_Point;

typedef A_u_long PF_HandleSize;
#else
typedef A_long PF_RectCoord;
typedef PF_LRect PF_Rect;

typedef struct {
  A_long h, v;
} PF_Point;

typedef A_u_longlong PF_HandleSize;
#endif

typedef struct {
  A_u_char alpha, red, green, blue;
} PF_Pixel;
typedef PF_Pixel PF_Pixel8;

typedef struct {
  A_u_short alpha, red, green, blue;
} PF_Pixel16;

typedef struct {
  PF_FpShort alpha, red, green, blue;
} PF_PixelFloat;
typedef PF_PixelFloat PF_Pixel32;

typedef struct {
  A_FpLong rate;
  A_short num_channels;
  A_short format;
  A_short bytes_per_sample;
} PF_SoundFormatInfo;

typedef struct {
  PF_SoundFormatInfo fi;
  A_long num_samples;
  void* dataP;
} PF_SoundWorld;

typedef struct PF_LayerDef {
  void* reserved0;
  void* reserved1;
  PF_WorldFlags world_flags;
  void* data;  // first byte of row 0 (PF_Pixel* or PF_Pixel16*)
  A_long rowbytes;
  A_long width;
  A_long height;
  PF_Rect extent_hint;
#ifdef QB_HOSTAPI_12X
  A_long platform_ref;
  A_long reserved[8];
#else
  void* platform_ref;
  A_intptr_t reserved_long1;
  A_intptr_t reserved_long4;
  PF_RationalScale pix_aspect_ratio;
  A_intptr_t reserved_long2;
  // Where the first pixel lies in layer coordinates (worlds of the SmartFX
  // checkouts; 0 elsewhere).
  A_long origin_x;
  A_long origin_y;
  A_long reserved_long3;
#endif
  A_long dephault;  // PF_LayerDefault_MYSELF or PF_LayerDefault_NONE
} PF_LayerDef;
typedef PF_LayerDef PF_EffectWorld;

enum {
  PF_WorldFlag_DEEP = 1L << 0,
  PF_WorldFlag_WRITEABLE = 1L << 1,
};

enum {
  PF_NewWorldFlag_NONE = 0,
  PF_NewWorldFlag_CLEAR_PIXELS = 1L << 0,
  PF_NewWorldFlag_DEEP_PIXELS = 1L << 1,
};

// ---- Parameters -----------------------------------------------------------

enum {
  PF_Param_LAYER = 0,
  PF_Param_SLIDER = 1,
  PF_Param_FIX_SLIDER = 2,
  PF_Param_ANGLE = 3,
  PF_Param_CHECKBOX = 4,
  PF_Param_COLOR = 5,
  PF_Param_POINT = 6,
  PF_Param_POPUP = 7,
  PF_Param_GROUP_START = 13,
  PF_Param_GROUP_END = 14,
};

enum {
  PF_ParamFlag_CANNOT_TIME_VARY = 1L << 1,
  PF_ParamFlag_CANNOT_INTERP = 1L << 2,
  PF_ParamFlag_COLLAPSE_TWIRLY = 1L << 5,
  PF_ParamFlag_SUPERVISE = 1L << 6,
};

enum {
  PF_PUI_DISABLED = 1L << 5,
};

enum {
  PF_LayerDefault_MYSELF = -1,
  PF_LayerDefault_NONE = 0,
};

typedef struct {
  PF_ParamValue value;
  A_char value_str[32];
  A_char value_desc[32];
  PF_ParamValue valid_min, valid_max;
  PF_ParamValue slider_min, slider_max;
  PF_ParamValue dephault;
} PF_SliderDef;

typedef struct {
  PF_Fixed value;
  A_char value_str[32];
  A_char value_desc[32];
  PF_Fixed valid_min, valid_max;
  PF_Fixed slider_min, slider_max;
  PF_Fixed dephault;
  A_short precision;
  A_short display_flags;
} PF_FixedSliderDef;

typedef struct {
  PF_Fixed value;
  PF_Fixed dephault;
  PF_Fixed valid_min, valid_max;
} PF_AngleDef;

typedef struct {
  PF_ParamValue value;
  PF_Boolean dephault;
  A_char reserved;
  A_short reserved1;
  union {
    const A_char* nameptr;
  } u;
} PF_CheckBoxDef;

typedef struct {
  PF_Pixel value;
  PF_Pixel dephault;
} PF_ColorDef;

typedef struct {
  PF_Fixed x_value;
  PF_Fixed y_value;
  A_char reserved[3];
  PF_Boolean restrict_bounds;
  PF_Fixed x_dephault;
  PF_Fixed y_dephault;
} PF_PointDef;

typedef struct {
  PF_ParamValue value;
  A_short num_choices;
  A_short dephault;
  union {
    const A_char* namesptr;  // choices separated by '|'
  } u;
} PF_PopupDef;

typedef struct {
  PF_FpLong value;
  PF_FpLong phase;
  A_char value_desc[32];
  PF_FpShort valid_min, valid_max;
  PF_FpShort slider_min, slider_max;
  PF_FpShort dephault;
  A_short precision;
  A_short display_flags;
  A_u_long fs_flags;
  PF_FpShort curve_tolerance;
  PF_Boolean useExponent;
  PF_FpShort exponent;
} PF_FloatSliderDef;

typedef struct {
  PF_FpLong x_value, y_value, z_value;
  PF_FpLong x_dephault, y_dephault, z_dephault;
  A_char reserved[16];
} PF_Point3DDef;

typedef struct {
  PF_ParamValue value;
  void* dephault;
} PF_ArbitraryDef;

typedef struct {
  A_u_long path_id;
  A_long reserved0;
  A_long dephault;
} PF_PathDef;

typedef struct {
  PF_ParamValue value;
  const A_char* u_label;
} PF_ButtonDef;

typedef union {
  PF_LayerDef ld;
  PF_SliderDef sd;
  PF_FixedSliderDef fd;
  PF_AngleDef ad;
  PF_CheckBoxDef bd;
  PF_ColorDef cd;
  PF_PointDef td;
  PF_PopupDef pd;
#ifdef QB_HOSTAPI_12X
  PF_SliderDef fs_d;  // float slider: not used by this effect
#else
  PF_FloatSliderDef fs_d;
#endif
  PF_ArbitraryDef arb_d;
  PF_PathDef path_d;
  PF_ButtonDef button_d;
#ifdef QB_HOSTAPI_CURRENT
  PF_Point3DDef point3d_d;
#endif
} PF_ParamDefUnion;

typedef struct PF_ParamDef {
  union {
    A_long id;
    A_long change_flags;
  } uu;
  PF_ParamUIFlags ui_flags;
  A_short ui_width;
  A_short ui_height;
  PF_ParamType param_type;
  A_char name[32];
  PF_ParamFlags flags;
  A_long unused;
  PF_ParamDefUnion u;
} PF_ParamDef;
typedef PF_ParamDef* PF_ParamDefPtr;
typedef PF_ParamDef** PF_ParamList;

typedef struct {
  PF_ParamIndex param_index;
} PF_UserChangedParamExtra;

// ---- Sampling -------------------------------------------------------------

typedef struct {
  PF_XferMode xfer;
  A_long rand_seed;
  A_u_char opacity;
  PF_Boolean rgb_only;
  A_u_short opacitySu;
} PF_CompositeMode;

typedef struct {
  PF_Fixed x_radius;
  PF_Fixed y_radius;
  PF_Fixed area;
  PF_EffectWorld* src;
  PF_SampleEdgeBehav samp_behave;
  A_long allow_asynch;
  A_long motion_blur;
  PF_CompositeMode comp_mode;
  void* mask0;
  A_u_char* fcm_table;
  A_u_char* fcd_table;
  A_long reserved[8];
} PF_SampPB;

// ---- Callbacks ------------------------------------------------------------

typedef PF_Err (*PF_IteratePixel8Func)(void* refcon, A_long x, A_long y, PF_Pixel* in,
                                       PF_Pixel* out);
typedef PF_Err (*PF_IteratePixel16Func)(void* refcon, A_long x, A_long y, PF_Pixel16* in,
                                        PF_Pixel16* out);
typedef PF_Err (*PF_IteratePixelFloatFunc)(void* refcon, A_long x, A_long y, PF_PixelFloat* in,
                                           PF_PixelFloat* out);

struct PF_InData;

typedef struct {
  PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                           A_long time_step, A_u_long time_scale, PF_ParamDef* param);
  PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
  PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def);
  PF_Err (*abort)(PF_ProgPtr effect_ref);
  PF_Err (*progress)(PF_ProgPtr effect_ref, A_long current, A_long total);
  void* register_ui;
  void* checkout_layer_audio;
  void* checkin_layer_audio;
  void* get_audio_data;
  void* reserved_str[3];
  void* reserved[10];
} PF_InteractCallbacks;

typedef struct {
  void* atan;
  void* atan2;
  void* ceil;
  void* cos;
  void* exp;
  void* fabs;
  void* floor;
  void* fmod;
  void* hypot;
  void* log;
  void* log10;
  void* pow;
  void* sin;
  void* sqrt;
  void* tan;
  void* sprintf;
  A_char* (*strcpy)(A_char* dst, const A_char* src);
  void* asin;
  void* acos;
  A_long ansi_procs[1];
} PF_ANSICallbacks;

typedef struct {
  void* RGBtoHLS;
  void* HLStoRGB;
  void* RGBtoYIQ;
  void* YIQtoRGB;
  void* Luminance;
  void* Hue;
  void* Lightness;
  void* Saturation;
} PF_ColorCallbacks;

typedef struct _PF_UtilCallbacks {
  void* begin_sampling;
  void* subpixel_sample;
  PF_Err (*area_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                        PF_Pixel* dst_pixel);
#ifdef QB_HOSTAPI_12X
  void* get_batch_func;
#else
  void* get_batch_func_is_deprecated;
#endif
  void* end_sampling;
  void* composite_rect;
  void* blend;
  PF_Err (*convolve)(PF_ProgPtr effect_ref, PF_EffectWorld* src, const PF_Rect* area,
                     PF_KernelFlags flags, A_long kernel_size, void* a_kernel, void* r_kernel,
                     void* g_kernel, void* b_kernel, PF_EffectWorld* dst);
  void* copy;
  PF_Err (*fill)(PF_ProgPtr effect_ref, const PF_Pixel* color, const PF_Rect* dst_rect,
                 PF_EffectWorld* world);
  PF_Err (*gaussian_kernel)(PF_ProgPtr effect_ref, A_FpLong kRadius, PF_KernelFlags flags,
                            A_FpLong multiplier, A_long* diameter, void* kernel);
  PF_Err (*iterate)(struct PF_InData* in_data, A_long progress_base, A_long progress_final,
                    PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                    PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
  void* premultiply;
  void* premultiply_color;
  PF_Err (*new_world)(PF_ProgPtr effect_ref, A_long width, A_long height, PF_NewWorldFlags flags,
                      PF_EffectWorld* world);
  PF_Err (*dispose_world)(PF_ProgPtr effect_ref, PF_EffectWorld* world);
#ifdef QB_HOSTAPI_12X
  void* get_platform_refs;
#endif
  void* iterate_origin;
  void* iterate_lut;
  void* transfer_rect;
  void* transform_world;
  PF_Handle (*host_new_handle)(PF_HandleSize size);
  void* (*host_lock_handle)(PF_Handle handle);
  void (*host_unlock_handle)(PF_Handle handle);
  void (*host_dispose_handle)(PF_Handle handle);
  void* get_callback_addr;
  void* app;
  PF_ANSICallbacks ansi;
  PF_ColorCallbacks colorCB;
  void* get_platform_data;
#ifdef QB_HOSTAPI_12X
  void* get_cgraf_data;
#endif
  PF_HandleSize (*host_get_handle_size)(PF_Handle handle);
  void* iterate_origin_non_clip_src;
  void* iterate_generic;
  PF_Err (*host_resize_handle)(PF_HandleSize new_size, PF_Handle* handle);
  void* subpixel_sample16;
  PF_Err (*area_sample16)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                          PF_Pixel16* dst_pixel);
  void* fill16;
  void* premultiply_color16;
  PF_Err (*iterate16)(struct PF_InData* in_data, A_long progress_base, A_long progress_final,
                      PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                      PF_IteratePixel16Func pix_fn, PF_EffectWorld* dst);
  PF_Err (*iterate_origin16)(struct PF_InData* in_data, A_long progress_base, A_long progress_final,
                             PF_EffectWorld* src, const PF_Rect* area, const PF_Point* origin,
                             void* refcon, PF_IteratePixel16Func pix_fn, PF_EffectWorld* dst);
  void* iterate_origin_non_clip_src16;
  void* get_pixel_data8;
  void* get_pixel_data16;
  A_long reserved[1];
} PF_UtilCallbacks;

// ---- Suites ---------------------------------------------------------------

typedef struct SPBasicSuite {
  SPErr (*AcquireSuite)(const char* name, int32_t version, const void** suite);
  SPErr (*ReleaseSuite)(const char* name, int32_t version);
  SPBoolean (*IsEqual)(const char* token1, const char* token2);
  SPErr (*AllocateBlock)(size_t size, void** block);
  SPErr (*FreeBlock)(void* block);
  SPErr (*ReallocateBlock)(void* block, size_t newSize, void** newblock);
  SPErr (*Undefined)(void);
} SPBasicSuite;

#define kPFParamUtilsSuite "PF Param Utils Suite"
#define kPFParamUtilsSuiteVersion1 1

typedef struct PF_ParamUtilsSuite1 {
  PF_Err (*PF_UpdateParamUI)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                             const PF_ParamDef* defP);
  void* PF_GetCurrentState;
  void* PF_AreStatesIdentical;
} PF_ParamUtilsSuite1;

#ifdef QB_HOSTAPI_CURRENT

// Four-character codes of the world pixel formats (PF_PixelFormat).
typedef A_long PF_PixelFormat;
enum {
  PF_PixelFormat_ARGB32 = 0x62677261,   // 'argb': PF_Pixel, 0..255
  PF_PixelFormat_ARGB64 = 0x36316561,   // 'ae16': PF_Pixel16, 0..32768
  PF_PixelFormat_ARGB128 = 0x32336561,  // 'ae32': PF_PixelFloat, 1.0 = white
};

#define kPFWorldSuite "PF World Suite"
#define kPFWorldSuiteVersion2 2

typedef struct PF_WorldSuite2 {
  PF_Err (*PF_NewWorld)(PF_ProgPtr effect_ref, A_long width, A_long height, PF_Boolean clear_pix,
                        PF_PixelFormat pixel_format, PF_EffectWorld* world);
  PF_Err (*PF_DisposeWorld)(PF_ProgPtr effect_ref, PF_EffectWorld* world);
  PF_Err (*PF_GetPixelFormat)(const PF_EffectWorld* world, PF_PixelFormat* pixel_format);
} PF_WorldSuite2;

// Float worlds have no utility callback of their own: they are iterated
// through this suite.
#define kPFIterateFloatSuite "PF Iterate Float Suite"
#define kPFIterateFloatSuiteVersion1 1

typedef struct PF_IterateFloatSuite1 {
  PF_Err (*iterate)(PF_InData* in_data, A_long progress_base, A_long progress_final,
                    PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                    PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld* dst);
  PF_Err (*iterate_origin)(PF_InData* in_data, A_long progress_base, A_long progress_final,
                           PF_EffectWorld* src, const PF_Rect* area, const PF_Point* origin,
                           void* refcon, PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld* dst);
  PF_Err (*iterate_origin_non_clip_src)(PF_InData* in_data, A_long progress_base,
                                        A_long progress_final, PF_EffectWorld* src,
                                        const PF_Rect* area, const PF_Point* origin, void* refcon,
                                        PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld* dst);
} PF_IterateFloatSuite1;

// ---- SmartFX --------------------------------------------------------------

typedef A_long PF_GPU_Framework;
typedef A_short PF_RenderOutputFlags;
enum {
  PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS = 0x1,
};

// What the host wants rendered: a rectangle in layer coordinates (right and
// bottom exclusive) and which channels.
typedef struct {
  PF_LRect rect;
  PF_Field field;
  A_long channel_mask;
  PF_Boolean preserve_rgb_of_zero_alpha;
  A_char unused[3];
  A_long reserved[4];
} PF_RenderRequest;

// What the host will hand over for one layer checked out in pre-render.
typedef struct {
  PF_LRect result_rect;
  PF_LRect max_result_rect;
  PF_RationalScale par;
  PF_Boolean solid;
  PF_Boolean reservedB[3];
  A_long ref_width;
  A_long ref_height;
  A_long reserved[6];
} PF_CheckoutResult;

typedef struct {
  PF_RenderRequest output_request;
  A_short bitdepth;  // 8, 16 or 32 bits a channel
  const void* gpu_data;
  PF_GPU_Framework what_gpu;
  A_u_long device_index;
} PF_PreRenderInput;

typedef void (*PF_DeletePreRenderDataFunc)(void* pre_render_data);

typedef struct {
  PF_LRect result_rect;
  PF_LRect max_result_rect;
  PF_Boolean solid;
  PF_Boolean reserved;
  PF_RenderOutputFlags flags;
  void* pre_render_data;
  PF_DeletePreRenderDataFunc delete_pre_render_data_func;
} PF_PreRenderOutput;

typedef struct {
  PF_Err (*checkout_layer)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id,
                           const PF_RenderRequest* request, A_long what_time, A_long time_step,
                           A_u_long time_scale, PF_CheckoutResult* checkout_result);
  PF_Err (*GuidMixInPtr)(PF_ProgPtr effect_ref, A_u_long buf_size, const void* buf);
} PF_PreRenderCallbacks;

typedef struct {
  PF_PreRenderInput* input;
  PF_PreRenderOutput* output;
  PF_PreRenderCallbacks* cb;
} PF_PreRenderExtra;

typedef struct {
  PF_RenderRequest output_request;
  A_short bitdepth;
  void* pre_render_data;  // as pre-render left it
  const void* gpu_data;
  PF_GPU_Framework what_gpu;
  A_u_long device_index;
} PF_SmartRenderInput;

typedef struct {
  PF_Err (*checkout_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_id,
                                  PF_EffectWorld** pixels);
  PF_Err (*checkin_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_id);
  PF_Err (*checkout_output)(PF_ProgPtr effect_ref, PF_EffectWorld** output);
} PF_SmartRenderCallbacks;

typedef struct {
  PF_SmartRenderInput* input;
  PF_SmartRenderCallbacks* cb;
} PF_SmartRenderExtra;

#endif  // QB_HOSTAPI_CURRENT

// ---- Command records ------------------------------------------------------

typedef struct PF_InData {
  PF_InteractCallbacks inter;
  PF_UtilCallbacks* utils;
  PF_ProgPtr effect_ref;
  PF_Quality quality;
  PF_SpecVersion version;
  A_long serial_num;
  A_long appl_id;
  A_long num_params;
  A_long reserved;
  A_long what_cpu;
  A_long what_fpu;
#ifdef QB_HOSTAPI_12X
  void* qd_globals;
#endif
  A_long current_time;
  A_long time_step;
  A_long total_time;
  A_long local_time_step;
  A_u_long time_scale;
  PF_Field field;
  PF_Fixed shutter_angle;
  A_long width;
  A_long height;
  PF_Rect extent_hint;
  A_long output_origin_x;
  A_long output_origin_y;
  PF_RationalScale downsample_x;
  PF_RationalScale downsample_y;
  PF_RationalScale pixel_aspect_ratio;
  PF_InFlags in_flags;
  PF_Handle global_data;
  PF_Handle sequence_data;
  PF_Handle frame_data;
  A_long start_sampL;
  A_long dur_sampL;
  A_long total_sampL;
  PF_SoundWorld src_snd;
  SPBasicSuite* pica_basicP;
  A_long pre_effect_source_origin_x;
  A_long pre_effect_source_origin_y;
  PF_Fixed shutter_phase;
} PF_InData;

typedef struct PF_OutData {
  A_u_long my_version;
  A_char name[32];
  PF_Handle global_data;
  A_long num_params;
  PF_Handle sequence_data;
  A_long flat_sdata_size;
  PF_Handle frame_data;
  A_long width;
  A_long height;
  PF_Point origin;
  PF_OutFlags out_flags;
  A_char return_msg[256];
  A_long start_sampL;
  A_long dur_sampL;
  PF_SoundWorld dest_snd;
  PF_OutFlags2 out_flags2;
} PF_OutData;

// ---- Constants ------------------------------------------------------------

enum {
  PF_Cmd_ABOUT = 0,
  PF_Cmd_GLOBAL_SETUP = 1,
  PF_Cmd_UNUSED_0 = 2,
  PF_Cmd_GLOBAL_SETDOWN = 3,
  PF_Cmd_PARAMS_SETUP = 4,
  PF_Cmd_SEQUENCE_SETUP = 5,
  PF_Cmd_SEQUENCE_RESETUP = 6,
  PF_Cmd_SEQUENCE_FLATTEN = 7,
  PF_Cmd_SEQUENCE_SETDOWN = 8,
  PF_Cmd_DO_DIALOG = 9,
  PF_Cmd_FRAME_SETUP = 10,
  PF_Cmd_RENDER = 11,
  PF_Cmd_FRAME_SETDOWN = 12,
  PF_Cmd_USER_CHANGED_PARAM = 13,
  PF_Cmd_UPDATE_PARAMS_UI = 14,
#ifdef QB_HOSTAPI_CURRENT
  PF_Cmd_SMART_PRE_RENDER = 23,
  PF_Cmd_SMART_RENDER = 24,
#endif
};

enum {
  PF_Err_NONE = 0,
  PF_Err_OUT_OF_MEMORY = 4,
  PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
  PF_Err_INVALID_INDEX = 513,
  PF_Err_UNRECOGNIZED_PARAM_TYPE = 514,
  PF_Err_INVALID_CALLBACK = 515,
  PF_Err_BAD_CALLBACK_PARAM = 516,
  PF_Interrupt_CANCEL = 517,
};

enum {
  PF_OutFlag_USE_OUTPUT_EXTENT = 1L << 6,
  PF_OutFlag_DEEP_COLOR_AWARE = 1L << 25,
};

#ifdef QB_HOSTAPI_CURRENT
enum {
  PF_OutFlag2_SUPPORTS_SMART_RENDER = 1L << 10,
  PF_OutFlag2_FLOAT_COLOR_AWARE = 1L << 12,
  PF_OutFlag2_SUPPORTS_THREADED_RENDERING = 1L << 27,
};
#endif

enum {
  PF_Quality_LO = 0,
  PF_Quality_HI = 1,
};

enum {
  PF_KernelFlag_1D = 1L << 0,
  PF_KernelFlag_NORMALIZED = 1L << 1,
  PF_KernelFlag_NO_CLAMP = 1L << 2,
  PF_KernelFlag_USE_CHAR = 1L << 3,
  PF_KernelFlag_USE_FIXED = 1L << 4,
  PF_KernelFlag_VERTICAL = 1L << 5,
  PF_KernelFlag_REPLICATE_BORDERS = 1L << 6,
};

enum {
  PF_Stage_DEVELOP = 0,
  PF_Stage_ALPHA = 1,
  PF_Stage_BETA = 2,
  PF_Stage_RELEASE = 3,
};

#define PF_MAX_CHAN8 255
#define PF_MAX_CHAN16 32768

// Packs a version as the host expects it in my_version and the PiPL.
#define PF_VERSION(vers, subvers, bugvers, stage, build)                    \
  ((((vers) >> 3) & 0xF) << 26 | ((vers)&7) << 19 | ((subvers)&0xF) << 15 | \
   ((bugvers)&0xF) << 11 | ((stage)&3) << 9 | ((build)&0x1FF))

typedef PF_Err (*PF_EffectMainFunc)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                    PF_ParamDef* params[], PF_LayerDef* output, void* extra);

}  // extern "C"

#ifdef QB_HOSTAPI_12X
#pragma pack(pop)
#endif

// A host rectangle from its four sides, in either generation's field order;
// each side is narrowed to the generation's coordinate type.
constexpr PF_Rect HostRect(int64_t left, int64_t top, int64_t right, int64_t bottom) {
  PF_Rect rect{};
  rect.left = static_cast<PF_RectCoord>(left);
  rect.top = static_cast<PF_RectCoord>(top);
  rect.right = static_cast<PF_RectCoord>(right);
  rect.bottom = static_cast<PF_RectCoord>(bottom);
  return rect;
}

#ifdef QB_HOSTAPI_12X
// The 12.x host reads these records at fixed offsets.
static_assert(sizeof(PF_InData) == 274, "PF_InData layout");
static_assert(offsetof(PF_InData, pica_basicP) == 258, "PF_InData layout");
static_assert(sizeof(PF_OutData) == 362, "PF_OutData layout");
static_assert(offsetof(PF_OutData, out_flags2) == 358, "PF_OutData layout");
static_assert(sizeof(PF_ParamDef) == 148, "PF_ParamDef layout");
static_assert(sizeof(PF_LayerDef) == 76, "PF_LayerDef layout");
static_assert(sizeof(PF_UtilCallbacks) == 284, "PF_UtilCallbacks layout");
static_assert(offsetof(PF_UtilCallbacks, host_new_handle) == 84, "PF_UtilCallbacks layout");
static_assert(offsetof(PF_UtilCallbacks, ansi) == 108, "PF_UtilCallbacks layout");
static_assert(offsetof(PF_UtilCallbacks, subpixel_sample16) == 244, "PF_UtilCallbacks layout");
#endif

#if defined(QB_HOSTAPI_CURRENT) && UINTPTR_MAX == UINT64_MAX
#include "hostapi/CurrentLayout.h"
#endif
