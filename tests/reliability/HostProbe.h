// Wraps a software host's callbacks to count the calls the effect makes and
// to cap the memory the host lends (handles in total, each new world on its
// own), forwarding everything else to the host unchanged.
//
// Counts and the cap are process-wide, as the host's handle table is: the
// effect captures the handle callbacks at its first global setup only, so
// every Host of a process must be probed before it first calls the effect.
// Counts are numbered like the host's fault counters (from the last Reset),
// so "the k-th call" means the same call to both.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "softhost/SoftHost.h"

namespace probe {

enum Counted { NewWorld, Fill, Iterate, AreaSample, Checkout, CountedKinds };

// Which callback of the iterate family each iterate call was: the frame
// clear of 16-bit worlds goes through iterate_origin16, the convolutions
// through iterate and iterate16.
enum class IterateKind : char { Convolve, Origin16 };

struct State {
  PF_UtilCallbacks utils{};
  PF_InteractCallbacks inter{};
  bool saved = false;
  std::atomic<long> counts[CountedKinds] = {};
  std::mutex mutex;  // guards everything below
  std::vector<IterateKind> iterateKinds;
  std::unordered_map<PF_Handle, size_t> handleSizes;
  size_t lent = 0;
  std::atomic<size_t> budget{SIZE_MAX};
};

inline State& Probe() {
  static State* state = new State;  // the effect may still call during static destruction
  return *state;
}

inline void ResetCounts() {
  State& s = Probe();
  for (auto& c : s.counts) c = 0;
  std::lock_guard<std::mutex> lock(s.mutex);
  s.iterateKinds.clear();
}

inline long Count(Counted kind) { return Probe().counts[kind].load(); }

inline std::vector<IterateKind> IterateKinds() {
  State& s = Probe();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.iterateKinds;
}

// Bytes the host may have lent at once; SIZE_MAX for no cap.
inline void SetMemoryBudget(size_t bytes) { Probe().budget = bytes; }

inline size_t BytesLent() {
  State& s = Probe();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.lent;
}

namespace detail {

inline void NoteIterate(IterateKind kind) {
  State& s = Probe();
  ++s.counts[Iterate];
  std::lock_guard<std::mutex> lock(s.mutex);
  s.iterateKinds.push_back(kind);
}

inline PF_Handle NewHandle(A_u_long size) {
  State& s = Probe();
  std::lock_guard<std::mutex> lock(s.mutex);
  const size_t budget = s.budget;
  if (s.lent > budget || size > budget - s.lent) return nullptr;
  PF_Handle handle = s.utils.host_new_handle(size);
  if (handle != nullptr) {
    s.handleSizes[handle] = size;
    s.lent += size;
  }
  return handle;
}

inline void DisposeHandle(PF_Handle handle) {
  State& s = Probe();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.handleSizes.find(handle);
    if (it != s.handleSizes.end()) {
      s.lent -= it->second;
      s.handleSizes.erase(it);
    }
  }
  s.utils.host_dispose_handle(handle);
}

inline PF_Err NewWorld(PF_ProgPtr ref, A_long width, A_long height, PF_NewWorldFlags flags,
                       PF_EffectWorld* world) {
  State& s = Probe();
  ++s.counts[probe::NewWorld];
  const size_t pixel = (flags & PF_NewWorldFlag_DEEP_PIXELS) != 0 ? 8 : 4;
  if (width > 0 && height > 0 &&
      static_cast<size_t>(width) * static_cast<size_t>(height) > s.budget / pixel) {
    return PF_Err_OUT_OF_MEMORY;
  }
  return s.utils.new_world(ref, width, height, flags, world);
}

inline PF_Err Fill(PF_ProgPtr ref, const PF_Pixel* color, const PF_Rect* rect,
                   PF_EffectWorld* world) {
  ++Probe().counts[probe::Fill];
  return Probe().utils.fill(ref, color, rect, world);
}

inline PF_Err Iterate(PF_InData* in_data, A_long base, A_long final, PF_EffectWorld* src,
                      const PF_Rect* area, void* refcon, PF_IteratePixel8Func fn,
                      PF_EffectWorld* dst) {
  NoteIterate(IterateKind::Convolve);
  return Probe().utils.iterate(in_data, base, final, src, area, refcon, fn, dst);
}

inline PF_Err Iterate16(PF_InData* in_data, A_long base, A_long final, PF_EffectWorld* src,
                        const PF_Rect* area, void* refcon, PF_IteratePixel16Func fn,
                        PF_EffectWorld* dst) {
  NoteIterate(IterateKind::Convolve);
  return Probe().utils.iterate16(in_data, base, final, src, area, refcon, fn, dst);
}

inline PF_Err IterateOrigin16(PF_InData* in_data, A_long base, A_long final, PF_EffectWorld* src,
                              const PF_Rect* area, const PF_Point* origin, void* refcon,
                              PF_IteratePixel16Func fn, PF_EffectWorld* dst) {
  NoteIterate(IterateKind::Origin16);
  return Probe().utils.iterate_origin16(in_data, base, final, src, area, origin, refcon, fn, dst);
}

inline PF_Err AreaSample(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                         PF_Pixel* out) {
  ++Probe().counts[probe::AreaSample];
  return Probe().utils.area_sample(ref, x, y, params, out);
}

inline PF_Err AreaSample16(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                           PF_Pixel16* out) {
  ++Probe().counts[probe::AreaSample];
  return Probe().utils.area_sample16(ref, x, y, params, out);
}

inline PF_Err Checkout(PF_ProgPtr ref, PF_ParamIndex index, A_long time, A_long step,
                       A_u_long scale, PF_ParamDef* param) {
  ++Probe().counts[probe::Checkout];
  return Probe().inter.checkout_param(ref, index, time, step, scale, param);
}

}  // namespace detail

// Every Host hands out the same callback functions, so the first one seen
// serves as the forwarding table for all.
inline void Install(softhost::Host& host) {
  State& s = Probe();
  PF_UtilCallbacks& u = *host.InData()->utils;
  PF_InteractCallbacks& inter = host.InData()->inter;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.saved) {
      s.utils = u;
      s.inter = inter;
      s.saved = true;
    }
  }
  u.host_new_handle = &detail::NewHandle;
  u.host_dispose_handle = &detail::DisposeHandle;
  u.new_world = &detail::NewWorld;
  u.fill = &detail::Fill;
  u.iterate = &detail::Iterate;
  u.iterate16 = &detail::Iterate16;
  u.iterate_origin16 = &detail::IterateOrigin16;
  u.area_sample = &detail::AreaSample;
  u.area_sample16 = &detail::AreaSample16;
  inter.checkout_param = &detail::Checkout;
}

}  // namespace probe
