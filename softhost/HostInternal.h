// Shared by the host's translation units: the C callbacks (as static members
// of Host::Impl, so they reach the Host's private state) and small helpers.
// effect_ref is the address of a Host::Frame: the context of one command
// (Call's commands share the Host's own), which names its Host.
#pragma once

#include <cstdint>
#include <map>
#include <type_traits>

#include "softhost/SoftHost.h"

namespace softhost {

// Indices into Host::callCounters.
enum CallCounter {
  kCountNewWorld,
  kCountFill,
  kCountIterate,
  kCountAreaSample,
  kCountCheckout,
  kCountAddParam,
  kCountCheckoutLayer,
  kCountLayerPixels,
  kCountCheckinPixels,
  kCountOutput,
  kCountPixelFormat,
};

struct Host::Frame {
  explicit Frame(Host* owner) : host(owner) {}
  Host* host;
#ifdef QB_HOSTAPI_CURRENT
  enum class Phase { None, PreRender, Render } phase = Phase::None;
  // One layer checked out in pre-render: its world as the host holds it
  // (no pixels for a layer parameter set to none), the part handed out, and
  // the view over that part while the effect holds its pixels.
  struct Checkout {
    PF_EffectWorld layer{};
    bool hasLayer = false;
    PF_LRect rect{0, 0, 0, 0};
    PF_EffectWorld view{};
    bool pixelsOut = false;
  };
  std::map<A_long, Checkout> checkouts;  // by checkout id; nodes never move
  PF_EffectWorld* output = nullptr;      // the caller's, covering the frame
  PF_LRect resultRect{0, 0, 0, 0};
  PF_EffectWorld outputView{};
#endif
};

template <typename Pixel>
struct Depth;
template <>
struct Depth<PF_Pixel> {
  using Channel = A_u_char;
  static constexpr int32_t kMax = 255;         // full scale
  static constexpr int32_t kStorageMax = 255;  // what the storage can hold
  static constexpr bool kDeep = false;
};
template <>
struct Depth<PF_Pixel16> {
  using Channel = A_u_short;
  static constexpr int32_t kMax = 32768;
  static constexpr int32_t kStorageMax = 65535;
  static constexpr bool kDeep = true;
};
template <>
struct Depth<PF_PixelFloat> {
  using Channel = PF_FpShort;
  static constexpr bool kDeep = false;
};

template <typename Pixel>
inline constexpr PixelFormat kFormatOf =
    std::is_same_v<Pixel, PF_PixelFloat> ? PixelFormat::ArgbFloat
    : Depth<Pixel>::kDeep                ? PixelFormat::Argb16
                                         : PixelFormat::Argb8;

inline bool WorldIsDeep(const PF_EffectWorld* world) {
  return (world->world_flags & PF_WorldFlag_DEEP) != 0;
}

inline bool WorldIsFloat(const PF_EffectWorld* world) {
  return (world->world_flags & kHostFloatWorld) != 0;
}

// What a world holds, as this host keeps it: its own float mark, else the
// deep flag.
inline PixelFormat WorldFormat(const PF_EffectWorld* world) {
  if (WorldIsFloat(world)) return PixelFormat::ArgbFloat;
  return WorldIsDeep(world) ? PixelFormat::Argb16 : PixelFormat::Argb8;
}

inline PF_WorldFlags FormatFlags(PixelFormat format) {
  return format == PixelFormat::ArgbFloat ? kHostFloatWorld
         : format == PixelFormat::Argb16  ? PF_WorldFlag_DEEP
                                          : 0;
}

inline size_t PixelSize(PixelFormat format) {
  return format == PixelFormat::ArgbFloat ? sizeof(PF_PixelFloat)
         : format == PixelFormat::Argb16  ? sizeof(PF_Pixel16)
                                          : sizeof(PF_Pixel);
}

template <typename Pixel>
inline Pixel* PixelIn(const PF_EffectWorld* world, int32_t x, int32_t y) {
  return reinterpret_cast<Pixel*>(static_cast<char*>(world->data) +
                                  static_cast<intptr_t>(y) * world->rowbytes) +
         x;
}

// Rows [top, bottom) and columns [left, right) of a rectangle in the host
// convention, already clipped.
struct Span {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool Empty() const { return left >= right || top >= bottom; }
};
// The area (null: the whole world) clipped to the world.
Span ClipToWorld(const PF_Rect* area, const PF_EffectWorld* world);

// Runs body(first, last) over row bands of [0, rows) on up to `threads`
// threads; bands are `band` rows long. Returns when all bands are done.
void ParallelRows(int threads, int32_t rows, int32_t band,
                  const std::function<void(int32_t first, int32_t last)>& body);

struct Host::Impl {
  static Frame* FrameOf(PF_ProgPtr ref) { return reinterpret_cast<Frame*>(ref); }
  static Host* From(PF_ProgPtr ref) { return ref ? FrameOf(ref)->host : nullptr; }
  static PF_ProgPtr Ref(Frame* frame) { return reinterpret_cast<PF_ProgPtr>(frame); }
  // True when this call (numbered from 0) is the one to fail.
  static bool Fires(Host* host, CallCounter counter, int failAt);
  // One abort poll: counts it and answers abortCode from the configured poll.
  static PF_Err Poll(Host* host);
  // The Host whose command runs on this thread (for suite functions, which
  // carry no context), or null.
  static Host* Current();
  // Runs one command of the effect on this thread, as the Host's.
  static PF_Err Send(Host* host, PF_EffectMainFunc entry, PF_Cmd cmd, PF_InData* in,
                     PF_OutData* out, PF_ParamDef** params, PF_EffectWorld* output, void* extra);

  // Interact callbacks.
  static PF_Err CheckoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long what_time,
                              A_long time_step, A_u_long time_scale, PF_ParamDef* param);
  static PF_Err CheckinParam(PF_ProgPtr ref, PF_ParamDef* param);
  static PF_Err AddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDefPtr def);
  static PF_Err Abort(PF_ProgPtr ref);
  static PF_Err Progress(PF_ProgPtr ref, A_long current, A_long total);

  // Utility callbacks.
  static PF_Err NewWorld(PF_ProgPtr ref, A_long width, A_long height, PF_NewWorldFlags flags,
                         PF_EffectWorld* world);
  static PF_Err NewWorldOf(PF_ProgPtr ref, A_long width, A_long height, PixelFormat format,
                           PF_EffectWorld* world);
  static PF_Err DisposeWorld(PF_ProgPtr ref, PF_EffectWorld* world);
  static PF_Err Fill(PF_ProgPtr ref, const PF_Pixel* color, const PF_Rect* rect,
                     PF_EffectWorld* world);
  static PF_Err Iterate(PF_InData* in_data, A_long progress_base, A_long progress_final,
                        PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                        PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
  static PF_Err Iterate16(PF_InData* in_data, A_long progress_base, A_long progress_final,
                          PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                          PF_IteratePixel16Func pix_fn, PF_EffectWorld* dst);
  static PF_Err IterateOrigin16(PF_InData* in_data, A_long progress_base, A_long progress_final,
                                PF_EffectWorld* src, const PF_Rect* area, const PF_Point* origin,
                                void* refcon, PF_IteratePixel16Func pix_fn, PF_EffectWorld* dst);
  // "PF Iterate Float Suite" 1; its non-clipping form is the clipping one
  // here, as for the 16-bit callbacks.
  static PF_Err IterateFloat(PF_InData* in_data, A_long progress_base, A_long progress_final,
                             PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                             PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld* dst);
  static PF_Err IterateOriginFloat(PF_InData* in_data, A_long progress_base, A_long progress_final,
                                   PF_EffectWorld* src, const PF_Rect* area, const PF_Point* origin,
                                   void* refcon, PF_IteratePixelFloatFunc pix_fn,
                                   PF_EffectWorld* dst);
  template <typename Pixel, typename Fn>
  static PF_Err IterateAny(PF_InData* in_data, A_long progress_base, A_long progress_final,
                           PF_EffectWorld* src, const PF_Rect* area, const PF_Point* origin,
                           void* refcon, Fn pix_fn, PF_EffectWorld* dst);
  static PF_Err GaussianKernel(PF_ProgPtr ref, A_FpLong kRadius, PF_KernelFlags flags,
                               A_FpLong multiplier, A_long* diameter, void* kernel);
  static PF_Err Convolve(PF_ProgPtr ref, PF_EffectWorld* src, const PF_Rect* area,
                         PF_KernelFlags flags, A_long kernel_size, void* a_kernel, void* r_kernel,
                         void* g_kernel, void* b_kernel, PF_EffectWorld* dst);
  static PF_Err AreaSample(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                           PF_Pixel* dst_pixel);
  static PF_Err AreaSample16(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                             PF_Pixel16* dst_pixel);

  // Basic suite and "PF Param Utils Suite".
  static SPErr AcquireSuite(const char* name, int32_t version, const void** suite);
  static SPErr ReleaseSuite(const char* name, int32_t version);
  static PF_Err UpdateParamUI(PF_ProgPtr ref, PF_ParamIndex index, const PF_ParamDef* def);

#ifdef QB_HOSTAPI_CURRENT
  // SmartFX callbacks and "PF World Suite" 2.
  static PF_Err CheckoutLayer(PF_ProgPtr ref, PF_ParamIndex index, A_long checkout_id,
                              const PF_RenderRequest* request, A_long what_time, A_long time_step,
                              A_u_long time_scale, PF_CheckoutResult* result);
  static PF_Err GuidMixIn(PF_ProgPtr ref, A_u_long size, const void* buf);
  static PF_Err CheckoutLayerPixels(PF_ProgPtr ref, A_long checkout_id, PF_EffectWorld** pixels);
  static PF_Err CheckinLayerPixels(PF_ProgPtr ref, A_long checkout_id);
  static PF_Err CheckoutOutput(PF_ProgPtr ref, PF_EffectWorld** output);
  static PF_Err SuiteNewWorld(PF_ProgPtr ref, A_long width, A_long height, PF_Boolean clear,
                              PF_PixelFormat format, PF_EffectWorld* world);
  static PF_Err SuiteDisposeWorld(PF_ProgPtr ref, PF_EffectWorld* world);
  static PF_Err GetPixelFormat(const PF_EffectWorld* world, PF_PixelFormat* format);
  static void InstallSmartCallbacks(Host* host);
  // Takes back the pixel checkouts the effect left, counting them.
  static void EndFrame(Frame& frame);
#endif

  static void InstallCallbacks(Host* host);
  static void ResolvePointDefaults(Host* host);
  // `in` as the next command will see it, for the command context `frame`.
  // The caller holds the Host's mutex when others may run meanwhile.
  static void PrepareInData(Host* host, const PF_EffectWorld* output, Frame* frame, PF_InData& in);
};

// Memory-handle callbacks (process-wide).
PF_Handle HostNewHandle(PF_HandleSize size);
void* HostLockHandle(PF_Handle handle);
void HostUnlockHandle(PF_Handle handle);
void HostDisposeHandle(PF_Handle handle);

}  // namespace softhost
