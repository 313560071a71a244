// Shared by the host's translation units: the C callbacks (as static members
// of Host::Impl, so they reach the Host's private state) and small helpers.
// A Host is identified to the effect by effect_ref, which is the Host's
// address.
#pragma once

#include <cstdint>

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

inline bool WorldIsDeep(const PF_EffectWorld* world) {
  return (world->world_flags & PF_WorldFlag_DEEP) != 0;
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
  static Host* From(PF_ProgPtr ref) { return reinterpret_cast<Host*>(ref); }
  static PF_ProgPtr Ref(Host* host) { return reinterpret_cast<PF_ProgPtr>(host); }
  // True when this call (numbered from 0) is the one to fail.
  static bool Fires(Host* host, CallCounter counter, int failAt);
  // One abort poll: counts it and answers abortCode from the configured poll.
  static PF_Err Poll(Host* host);

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

  static void InstallCallbacks(Host* host);
  static void ResolvePointDefaults(Host* host);
  // in_data as the next command will see it.
  static void PrepareInData(Host* host, const PF_EffectWorld* output);
};

// Memory-handle callbacks (process-wide).
PF_Handle HostNewHandle(PF_HandleSize size);
void* HostLockHandle(PF_Handle handle);
void HostUnlockHandle(PF_Handle handle);
void HostDisposeHandle(PF_Handle handle);

}  // namespace softhost
