// Wraps a software host's callbacks to count the effect's calls and to cap
// the memory the host lends. Process-wide, as the host's handle table is: the
// effect captures the handle callbacks at its first global setup, so every
// Host must be probed before it first calls the effect. Counts restart with
// ResetCounts, as the host's fault counters do, so call k is the same call.
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

// 16-bit frame clears go through iterate_origin16, convolutions not.
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

// Counts a call of `kind` and forwards it to the saved callback `Member`.
template <Counted kind, auto Member, typename... Args>
PF_Err Forward(Args... args) {
  ++Probe().counts[kind];
  if constexpr (kind == Checkout) {
    return (Probe().inter.*Member)(args...);
  } else {
    return (Probe().utils.*Member)(args...);
  }
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

}  // namespace detail

// Every Host hands out the same callbacks: the first seen forwards for all.
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
  u.fill = &detail::Forward<Fill, &PF_UtilCallbacks::fill, PF_ProgPtr, const PF_Pixel*,
                            const PF_Rect*, PF_EffectWorld*>;
  u.iterate = &detail::Iterate;
  u.iterate16 = &detail::Iterate16;
  u.iterate_origin16 = &detail::IterateOrigin16;
  u.area_sample = &detail::Forward<AreaSample, &PF_UtilCallbacks::area_sample, PF_ProgPtr, PF_Fixed,
                                   PF_Fixed, const PF_SampPB*, PF_Pixel*>;
  u.area_sample16 = &detail::Forward<AreaSample, &PF_UtilCallbacks::area_sample16, PF_ProgPtr,
                                     PF_Fixed, PF_Fixed, const PF_SampPB*, PF_Pixel16*>;
  inter.checkout_param =
      &detail::Forward<Checkout, &PF_InteractCallbacks::checkout_param, PF_ProgPtr, PF_ParamIndex,
                       A_long, A_long, A_u_long, PF_ParamDef*>;
}

}  // namespace probe
