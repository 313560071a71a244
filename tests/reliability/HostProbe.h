// Wraps a software host's callbacks to count the effect's calls and to cap
// the memory the host lends (handles in total, each world on its own). Process-wide, as the host's
// handle table is: the effect captures the handle callbacks at its first global setup, so every
// Host must be probed before it first calls the effect. Counts restart with
// ResetCounts, as the host's fault counters do, so call k is the same call.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "softhost/SoftHost.h"

namespace probe {

enum Counted { NewWorld, Fill, Iterate, AreaSample, Checkout, CountedKinds };

// What an iterate call was for: the effect clears 16-bit frames through
// iterate_origin16 alone, and resamples the control layer on the host's
// threads with no source world, two passes over the rows of the resampled
// layer.
enum class IterateUse : char { Convolve, FrameClear, Resample };

struct State {
  PF_UtilCallbacks utils{};
  PF_InteractCallbacks inter{};
  SPBasicSuite basic{};
#ifdef QB_HOSTAPI_CURRENT
  // The host's suites as acquired, and the counted copies handed out.
  PF_WorldSuite2 worldSuite{}, countedWorldSuite{};
  PF_IterateFloatSuite1 iterateFloat{}, countedIterateFloat{};
  bool worldSuiteSaved = false, iterateFloatSaved = false;
#endif
  bool saved = false;
  std::atomic<long> counts[CountedKinds] = {};
  std::mutex mutex;  // guards everything below
  std::vector<IterateUse> iterateUses;
  std::unordered_map<PF_Handle, size_t> handleSizes;
  size_t lent = 0;
  size_t budget = SIZE_MAX;
};

inline State& Probe() {
  static State* state = new State;  // the effect may still call during static destruction
  return *state;
}

inline void ResetCounts() {
  State& s = Probe();
  for (auto& c : s.counts) c = 0;
  std::lock_guard<std::mutex> lock(s.mutex);
  s.iterateUses.clear();
}

inline long Count(Counted kind) { return Probe().counts[kind].load(); }

// For each iterate call, what it was for (see IterateUse).
inline std::vector<IterateUse> IterateUses() {
  State& s = Probe();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.iterateUses;
}

// Bytes the host may have lent at once; SIZE_MAX for no cap.
inline void SetMemoryBudget(size_t bytes) {
  State& s = Probe();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.budget = bytes;
}

namespace detail {

inline PF_Handle NewHandle(PF_HandleSize size) {
  State& s = Probe();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.lent > s.budget || size > s.budget - s.lent) return nullptr;
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

template <typename Fn>
IterateUse UseOf(PF_InData*, A_long, A_long, PF_EffectWorld* src, const PF_Rect* area, void*, Fn,
                 PF_EffectWorld* dst) {
  // Of the iterates without a source, the resampler's shares bands of rows
  // out, fewer calls than its frame has rows; the cross's arms take a call
  // per row.
  const bool resample =
      src == nullptr && dst != nullptr && area != nullptr && area->bottom - area->top < dst->height;
  return resample ? IterateUse::Resample : IterateUse::Convolve;
}
template <typename Fn>
IterateUse UseOf(PF_InData*, A_long, A_long, PF_EffectWorld*, const PF_Rect*, const PF_Point*,
                 void*, Fn, PF_EffectWorld*) {
  return IterateUse::FrameClear;
}

// A world the budget cannot hold is refused as the host would refuse it.
// Worlds are not counted as lent: the cap only keeps one request from
// asking the machine for more than the budget.
inline bool WorldFitsPixels(A_long width, A_long height, size_t pixel) {
  State& s = Probe();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (width < 1 || height < 1) return true;  // the host's own answer
  const size_t room = s.lent > s.budget ? 0 : s.budget - s.lent;
  return static_cast<size_t>(width) <= room / pixel / static_cast<size_t>(height);
}

inline bool WorldFits(PF_ProgPtr, A_long width, A_long height, PF_NewWorldFlags flags,
                      PF_EffectWorld*) {
  return WorldFitsPixels(width, height, (flags & PF_NewWorldFlag_DEEP_PIXELS) != 0 ? 8 : 4);
}

// Counts a call of `kind` and forwards it to the saved callback `Member`.
template <Counted kind, auto Member, typename Callback>
struct Counter;
template <Counted kind, auto Member, typename... Args>
struct Counter<kind, Member, PF_Err (*)(Args...)> {
  static PF_Err Call(Args... args) {
    State& s = Probe();
    ++s.counts[kind];
    if constexpr (kind == Iterate) {
      std::lock_guard<std::mutex> lock(s.mutex);
      s.iterateUses.push_back(UseOf(args...));
    }
    if constexpr (kind == NewWorld) {
      if (!WorldFits(args...)) return PF_Err_OUT_OF_MEMORY;
    }
    if constexpr (kind == Checkout) {
      return (s.inter.*Member)(args...);
    } else {
      return (s.utils.*Member)(args...);
    }
  }
};

template <Counted kind, auto Member, typename Table>
void Hook(Table& table) {
  table.*Member = &Counter<kind, Member, std::remove_reference_t<decltype(table.*Member)>>::Call;
}

#ifdef QB_HOSTAPI_CURRENT
// Float worlds come through suites: their new worlds and iterates count as
// the utility callbacks' do.
inline PF_Err SuiteNewWorld(PF_ProgPtr ref, A_long width, A_long height, PF_Boolean clear,
                            PF_PixelFormat format, PF_EffectWorld* world) {
  State& s = Probe();
  ++s.counts[NewWorld];
  const size_t pixel = format == PF_PixelFormat_ARGB128  ? 16
                       : format == PF_PixelFormat_ARGB64 ? 8
                                                         : 4;
  if (!WorldFitsPixels(width, height, pixel)) return PF_Err_OUT_OF_MEMORY;
  return s.worldSuite.PF_NewWorld(ref, width, height, clear, format, world);
}

inline PF_Err IterateFloat(PF_InData* in, A_long base, A_long final, PF_EffectWorld* src,
                           const PF_Rect* area, void* refcon, PF_IteratePixelFloatFunc fn,
                           PF_EffectWorld* dst) {
  State& s = Probe();
  ++s.counts[Iterate];
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.iterateUses.push_back(UseOf(in, base, final, src, area, refcon, fn, dst));
  }
  return s.iterateFloat.iterate(in, base, final, src, area, refcon, fn, dst);
}
#endif

inline SPErr AcquireSuite(const char* name, int32_t version, const void** suite) {
  State& s = Probe();
  const SPErr err = s.basic.AcquireSuite(name, version, suite);
#ifdef QB_HOSTAPI_CURRENT
  if (err != 0 || suite == nullptr || *suite == nullptr) return err;
  std::lock_guard<std::mutex> lock(s.mutex);
  // Saved once, as the utility callbacks are: renders on other threads read
  // the copies while this one acquires.
  if (std::strcmp(name, kPFWorldSuite) == 0 && version == kPFWorldSuiteVersion2) {
    if (!s.worldSuiteSaved) {
      s.worldSuite = *static_cast<const PF_WorldSuite2*>(*suite);
      s.countedWorldSuite = s.worldSuite;
      s.countedWorldSuite.PF_NewWorld = &SuiteNewWorld;
      s.worldSuiteSaved = true;
    }
    *suite = &s.countedWorldSuite;
  } else if (std::strcmp(name, kPFIterateFloatSuite) == 0 &&
             version == kPFIterateFloatSuiteVersion1) {
    if (!s.iterateFloatSaved) {
      s.iterateFloat = *static_cast<const PF_IterateFloatSuite1*>(*suite);
      s.countedIterateFloat = s.iterateFloat;
      s.countedIterateFloat.iterate = &IterateFloat;
      s.iterateFloatSaved = true;
    }
    *suite = &s.countedIterateFloat;
  }
#endif
  return err;
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
      s.basic = *host.InData()->pica_basicP;
      s.saved = true;
    }
  }
  host.InData()->pica_basicP->AcquireSuite = &detail::AcquireSuite;
  u.host_new_handle = &detail::NewHandle;
  u.host_dispose_handle = &detail::DisposeHandle;
  detail::Hook<NewWorld, &PF_UtilCallbacks::new_world>(u);
  detail::Hook<Fill, &PF_UtilCallbacks::fill>(u);
  detail::Hook<Iterate, &PF_UtilCallbacks::iterate>(u);
  detail::Hook<Iterate, &PF_UtilCallbacks::iterate16>(u);
  detail::Hook<Iterate, &PF_UtilCallbacks::iterate_origin16>(u);
  detail::Hook<AreaSample, &PF_UtilCallbacks::area_sample>(u);
  detail::Hook<AreaSample, &PF_UtilCallbacks::area_sample16>(u);
  detail::Hook<Checkout, &PF_InteractCallbacks::checkout_param>(inter);
}

}  // namespace probe
