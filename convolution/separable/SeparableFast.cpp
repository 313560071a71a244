#include "convolution/separable/SeparableFast.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <type_traits>

#include "convolution/Slots.h"
#include "convolution/Weighted.h"
#include "convolution/separable/LinePlan.h"
#include "convolution/separable/Separable.h"
#include "convolution/simd/Kernels.h"
#include "image/AEException.h"
#include "image/AEWorld.h"
#include "image/Containers.h"
#include "image/IterateRows.h"
#include "image/PixelTraits.h"

namespace {

// Rows per horizontal band and columns per vertical strip: 8 pixels of 4
// channels fill the 32 lanes of a position.
constexpr int32_t kBlock = 8;
constexpr int32_t kChannels = 4;
static_assert(kBlock * kChannels == kLineLanes);

// Scratch lines for the pixel functions, one per slot, allocated before the
// passes so that nothing is allocated per call.
template <typename Lane>
class SlotPool {
 public:
  explicit SlotPool(size_t positionsPerSlot)
      : slots(Slots::ForThisMachine(33)),
        stride(positionsPerSlot * kLineLanes),
        storage(new Lane[stride * static_cast<size_t>(slots.Count())]) {}

  Slots& Indices() { return slots; }
  Lane* Memory(int32_t slot) const { return storage.get() + stride * static_cast<size_t>(slot); }

 private:
  Slots slots;
  size_t stride;
  std::unique_ptr<Lane[]> storage;
};

template <typename Lane>
class ScratchLease {
 public:
  explicit ScratchLease(SlotPool<Lane>& owner)
      : lease(owner.Indices()), memory(owner.Memory(lease.Index())) {}
  Lane* Memory() const { return memory; }

 private:
  SlotLease lease;
  Lane* memory;
};

struct PassPlan {
  LinePlan plan;
  int32_t taps = 0;
  int32_t before = 0;  // zero positions ahead of the image in the padded line
};

// One separable blur: its two passes and the world its first pass writes.
struct Arm {
  PassPlan across;
  PassPlan down;
  // What the straightforward passes call the temporary copy of dst: dst
  // itself when dst holds only zeros (the floor is then no floor at all).
  PF_EffectWorld* mid = nullptr;
};

template <typename Lane>
struct FastPasses {
  // One blur, or the cross's two arms, whose colours then merge by maximum
  // as the second pass stores them (alpha is the second arm's), so the
  // first arm's result never goes through memory; both run in place then.
  Arm arms[2];
  int32_t armCount = 1;
  // The arm whose horizontal pass has the most taps: the band is padded for
  // it and it runs first, so the other arm's padded line lies within its
  // line, and the other's scratch only past its own line.
  int32_t widest = 0;
  LineFunctionOf<Lane> line = nullptr;
  PF_EffectWorld* src = nullptr;
  PF_EffectWorld* dst = nullptr;
  bool inPlace = false;
  bool maskSource = false;
  // The horizontal pass did not run (its kernel passes src through): the
  // vertical one reads src itself.
  bool downReadsSource = false;
  int32_t width = 0;
  int32_t height = 0;
  int32_t strips = 0;
  SlotPool<Lane>* pool = nullptr;
  size_t keptOffset = 0;  // elements into a slot: the first arm's column (two arms)
};

// Each channel raised to its value in the line where that is greater, as
// RaiseTo raises it (a float channel that is NaN stays so).
template <typename Pixel, typename Lane>
inline void RaisePixel(const Lane* lanes, Pixel* p) {
  using Channel = typename PixelTraits<Pixel>::Channel;
  Channel* channels[kChannels] = {&p->alpha, &p->red, &p->green, &p->blue};
  for (int32_t c = 0; c < kChannels; ++c) {
    if (lanes[c] > *channels[c]) *channels[c] = static_cast<Channel>(lanes[c]);
  }
}

// Every pixel all zero bits: in float +0, since a floor of -0 must stay -0
// where nothing raises it.
template <typename Pixel>
bool IsClear(const PF_EffectWorld* world) {
  static constexpr Pixel kZero{};
  for (int32_t y = 0; y < world->height; ++y) {
    const Pixel* row = PixelAt<Pixel>(world, 0, y);
    for (int32_t x = 0; x < world->width; ++x) {
      if (std::memcmp(&row[x], &kZero, sizeof(Pixel)) != 0) return false;
    }
  }
  return true;
}

// The straightforward loop itself, lane by lane, for lines where a weighted
// value may pass 65535: there the 32-bit product wraps (the tap turns
// negative and drops out), which the vector arithmetic cannot mimic. Each
// lane starts from its floor in `values`.
void EmulateLine(const LinePlan& plan, const uint16_t* in, int32_t count, uint16_t* values) {
  const int32_t* weights = plan.Weights();
  for (int32_t x = 0; x < count; ++x) {
    for (int32_t lane = 0; lane < kLineLanes; ++lane) {
      int32_t v = values[x * kLineLanes + lane];
      for (int32_t t = 0; t < plan.Taps(); ++t) {
        if (weights[t] <= 0) continue;
        const int32_t a = MulQ15(weights[t], in[(x + t) * kLineLanes + lane]);
        if (a > v) v = static_cast<uint16_t>(a);
      }
      values[x * kLineLanes + lane] = static_cast<uint16_t>(v);
    }
  }
}

// Fills the padding of a line, and the lanes past `used` blocks of every
// position, with zeros; returns the line's first image position.
template <typename Lane>
Lane* PrepareLine(const PassPlan& pass, int32_t count, int32_t used, Lane* in) {
  const size_t after = static_cast<size_t>(pass.taps - 1 - pass.before);
  std::fill(in, in + static_cast<size_t>(pass.before) * kLineLanes, Lane{0});
  Lane* image = in + static_cast<size_t>(pass.before) * kLineLanes;
  std::fill(image + static_cast<size_t>(count) * kLineLanes,
            image + (static_cast<size_t>(count) + after) * kLineLanes, Lane{0});
  if (used < kBlock) {
    for (int32_t x = 0; x < count; ++x) {
      std::fill(image + x * kLineLanes + used * kChannels, image + (x + 1) * kLineLanes, Lane{0});
    }
  }
  return image;
}

// Runs the line, or emulates it when its values could overflow (never in
// float lanes); the floor callback fills the output with the values the
// emulation starts from.
template <typename Lane, typename Floor>
bool RunOrEmulate(const FastPasses<Lane>& f, const PassPlan& pass, Lane* in, int32_t count,
                  Floor&& floor, Lane** out) {
  LineJobOf<Lane> job{};
  job.program = pass.plan.Program();
  job.in = in;
  job.inCount = pass.plan.InCount();
  job.count = count;
  job.out = in + (pass.plan.JobPositions() - static_cast<size_t>(count)) * kLineLanes;
  job.valueLimit = pass.plan.ValueLimit();
  *out = job.out;
  if (f.line(job)) return false;
  if constexpr (std::is_same_v<Lane, uint16_t>) {
    floor(job.out);
    EmulateLine(pass.plan, in, count, job.out);
  }
  return true;
}

// Calls fn(x, r) for every pixel of a band, x outer. Every band but the last
// has kBlock rows; a constant count lets the compiler unroll the row loop.
template <typename Fn>
inline void ForBandPixels(int32_t width, int32_t rows, Fn&& fn) {
  if (rows == kBlock) {
    for (int32_t x = 0; x < width; ++x) {
      for (int32_t r = 0; r < kBlock; ++r) fn(x, r);
    }
    return;
  }
  for (int32_t x = 0; x < width; ++x) {
    for (int32_t r = 0; r < rows; ++r) fn(x, r);
  }
}

// WithoutHiddenColour, tested on the loaded lanes: in this loop that is
// several percent of a render faster than masking the pixel first.
template <typename Pixel, typename Lane>
inline void LoadMaskedPixel(const Pixel& p, Lane* lanes) {
  LoadPixel(p, lanes);
  if (lanes[0] == 0) lanes[1] = lanes[2] = lanes[3] = 0;
}

// The horizontal pass of one arm over a loaded band: `in` is its padded line.
template <typename Pixel, typename Lane>
void AcrossArm(const FastPasses<Lane>& f, const Arm& arm, A_long y, int32_t rows, Lane* in) {
  Lane* out = nullptr;
  const bool final = RunOrEmulate(
      f, arm.across, in, f.width,
      [&](Lane* values) {
        // In place, dst holds zeros or nothing worth reading.
        for (int32_t r = 0; r < rows; ++r) {
          const Pixel* floor = PixelAt<Pixel>(arm.mid, 0, y + r);
          for (int32_t x = 0; x < f.width; ++x) {
            Lane* lanes = values + x * kLineLanes + r * kChannels;
            if (f.inPlace) {
              std::fill(lanes, lanes + kChannels, Lane{0});
            } else {
              LoadPixel(floor[x], lanes);
            }
          }
        }
      },
      &out);
  Pixel* target[kBlock];
  for (int32_t r = 0; r < rows; ++r) target[r] = PixelAt<Pixel>(arm.mid, 0, y + r);
  if (final || f.inPlace) {
    ForBandPixels(f.width, rows, [&](int32_t x, int32_t r) {
      StorePixel(out + x * kLineLanes + r * kChannels, &target[r][x]);
    });
  } else {
    ForBandPixels(f.width, rows, [&](int32_t x, int32_t r) {
      RaisePixel(out + x * kLineLanes + r * kChannels, &target[r][x]);
    });
  }
}

// Horizontal pass: rows y..y+7 of src across, lanes (row, channel), raised
// into the same rows of each arm's mid.
template <typename Pixel>
PF_Err AcrossBand(void* refcon, A_long, A_long y, Pixel*, Pixel*) {
  using Lane = LaneOf<Pixel>;
  if (y % kBlock != 0) return PF_Err_NONE;
  const FastPasses<Lane>& f = *static_cast<const FastPasses<Lane>*>(refcon);
  const int32_t rows = std::min(kBlock, f.height - y);
  ScratchLease<Lane> lease(*f.pool);
  // Loaded once for every arm.
  Lane* image = PrepareLine(f.arms[f.widest].across, f.width, rows, lease.Memory());
  const Pixel* source[kBlock];
  for (int32_t r = 0; r < rows; ++r) source[r] = PixelAt<Pixel>(f.src, 0, y + r);
  if (f.maskSource) {
    ForBandPixels(f.width, rows, [&](int32_t x, int32_t r) {
      LoadMaskedPixel(source[r][x], image + x * kLineLanes + r * kChannels);
    });
  } else {
    ForBandPixels(f.width, rows, [&](int32_t x, int32_t r) {
      LoadPixel(source[r][x], image + x * kLineLanes + r * kChannels);
    });
  }
  for (int32_t n = 0; n < f.armCount; ++n) {
    const Arm& arm = f.arms[n == 0 ? f.widest : 1 - f.widest];
    AcrossArm<Pixel>(f, arm, y, rows,
                     image - static_cast<ptrdiff_t>(arm.across.before) * kLineLanes);
  }
  return PF_Err_NONE;
}

// The vertical pass of one arm over the strip at column x0: its values in
// *out, and whether they already hold dst's floor.
template <typename Pixel, typename Lane>
bool DownArm(const FastPasses<Lane>& f, const Arm& arm, int32_t x0, int32_t columns, Lane* in,
             Lane** out) {
  Lane* image = PrepareLine(arm.down, f.height, columns, in);
  if (f.downReadsSource && f.maskSource) {
    for (int32_t y = 0; y < f.height; ++y) {
      const Pixel* row = PixelAt<Pixel>(f.src, x0, y);
      Lane* lanes = image + y * kLineLanes;
      for (int32_t p = 0; p < columns; ++p) LoadMaskedPixel(row[p], lanes + p * kChannels);
    }
  } else {
    const PF_EffectWorld* from = f.downReadsSource ? f.src : arm.mid;
    // 16-bit pixels are their lanes; so are float ones that the horizontal
    // pass stored from its lanes (in place, mid holds nothing else).
    const bool asLanes =
        PixelTraits<Pixel>::kFormat == PixelFormat::Argb16 ||
        (PixelTraits<Pixel>::kFormat == PixelFormat::ArgbFloat && !f.downReadsSource && f.inPlace);
    for (int32_t y = 0; y < f.height; ++y) {
      const Pixel* row = PixelAt<Pixel>(from, x0, y);
      Lane* lanes = image + y * kLineLanes;
      if (asLanes && columns == kBlock) {
        std::memcpy(lanes, row, kLineLanes * sizeof(Lane));
      } else {
        for (int32_t p = 0; p < columns; ++p) LoadPixel(row[p], lanes + p * kChannels);
      }
    }
  }
  return RunOrEmulate(
      f, arm.down, in, f.height,
      [&](Lane* values) {
        for (int32_t y = 0; y < f.height; ++y) {
          const Pixel* floor = PixelAt<Pixel>(f.dst, x0, y);
          for (int32_t p = 0; p < columns; ++p) {
            Lane* lanes = values + y * kLineLanes + p * kChannels;
            if (f.inPlace) {
              std::fill(lanes, lanes + kChannels, Lane{0});
            } else {
              LoadPixel(floor[p], lanes);
            }
          }
        }
      },
      out);
}

// Vertical pass: one strip of 8 columns of each arm's mid down, lanes
// (column, channel), raised into dst (or, in place, stored: dst then holds
// mid).
template <typename Pixel, typename Lane>
void DownStrip(const FastPasses<Lane>& f, int32_t strip) {
  const int32_t x0 = strip * kBlock;
  const int32_t columns = std::min(kBlock, f.width - x0);
  ScratchLease<Lane> lease(*f.pool);
  Lane* out = nullptr;
  bool final = DownArm<Pixel>(f, f.arms[0], x0, columns, lease.Memory(), &out);
  if (f.armCount == 2) {
    // The first arm's column waits at the end of the slot while the second
    // arm runs; then the colour lanes take the larger of the two.
    const size_t count = static_cast<size_t>(f.height) * kLineLanes;
    Lane* kept = lease.Memory() + f.keptOffset;
    std::memcpy(kept, out, count * sizeof(Lane));
    final = DownArm<Pixel>(f, f.arms[1], x0, columns, lease.Memory(), &out);
    for (size_t i = 0; i < count; i += kChannels) {
      for (int32_t c = 1; c < kChannels; ++c) out[i + c] = std::max(out[i + c], kept[i + c]);
    }
  }
  const bool store = final || f.inPlace;
  for (int32_t y = 0; y < f.height; ++y) {
    Pixel* target = PixelAt<Pixel>(f.dst, x0, y);
    const Lane* lanes = out + y * kLineLanes;
    // Pixels that are their four lanes as they lie.
    if (sizeof(Pixel) == kChannels * sizeof(Lane) && columns == kBlock && store) {
      std::memcpy(target, lanes, kLineLanes * sizeof(Lane));
      continue;
    }
    for (int32_t p = 0; p < columns; ++p) {
      if (store) {
        StorePixel(lanes + p * kChannels, &target[p]);
      } else {
        RaisePixel(lanes + p * kChannels, &target[p]);
      }
    }
  }
}

template <typename Pixel>
PF_Err DownStrips(void* refcon, A_long, A_long y, Pixel*, Pixel*) {
  using Lane = LaneOf<Pixel>;
  const FastPasses<Lane>& f = *static_cast<const FastPasses<Lane>*>(refcon);
  const RowShare strips = ShareOfRow(y, f.height, f.strips);
  for (int32_t s = strips.first; s < strips.end; ++s) DownStrip<Pixel>(f, s);
  return PF_Err_NONE;
}

template <typename Pixel, typename Lane>
void RunPass(PF_InData* inData, FastPasses<Lane>& f, PF_EffectWorld* src, bool across) {
  // One pixel wide and as tall as the image: the same polls and progress as
  // the straightforward pass over the whole image.
  const PF_Err err = IterateRows<Pixel>(inData, across ? 0 : f.height, 2 * f.height, src, f.height,
                                        &f, across ? AcrossBand<Pixel> : DownStrips<Pixel>, f.dst);
  if (err != PF_Err_NONE) throw AEException(err, "ConvolveImage: Error or user Abort.");
}

bool IsUnitTap(const KernelView& view) {
  return view.width == 1 && view.height == 1 && view.Weight(0, 0) == 32768;
}

bool PlanPass(const KernelView& view, bool horizontal, int32_t count, PixelFormat format,
              PassPlan* pass) {
  const int32_t n = horizontal ? view.width : view.height;
  if (n < 1 || (horizontal ? view.height : view.width) != 1) return false;
  std::vector<int32_t> gather(static_cast<size_t>(n));
  for (int32_t t = 0; t < n; ++t) {
    gather[t] = horizontal ? view.Weight(n - 1 - t, 0) : view.Weight(0, n - 1 - t);
  }
  pass->taps = n;
  pass->before = n / 2;
  return pass->plan.Build(gather.data(), n, count, format);
}

// Both entries: views holds each arm's across and down kernels; the first
// of two arms writes its first pass to firstMid.
template <typename Pixel>
bool ConvolveArms(PF_InData* inData, const KernelView* const* views, int32_t armCount,
                  PF_EffectWorld* src, PF_EffectWorld* firstMid, PF_EffectWorld* dst,
                  SimdLevel instructionSet, bool maskSource, DestinationState destination) {
  using Lane = LaneOf<Pixel>;
  constexpr PixelFormat format = PixelTraits<Pixel>::kFormat;
  const int32_t width = src->width;
  const int32_t height = src->height;
  if (!HoldsPixels<Pixel>(src) || !HoldsPixels<Pixel>(dst)) return false;
  // One iterate call per row, and the rows are a host rectangle's.
  if (width < 1 || height < 1 || height > kMaxIterateRows || dst->width != width ||
      dst->height != height) {
    return false;
  }
  if (armCount == 2 &&
      (firstMid->width != width || firstMid->height != height || !HoldsPixels<Pixel>(firstMid))) {
    return false;
  }
  FastPasses<Lane> f;
  f.armCount = armCount;
  size_t positions = 0;
  for (int32_t k = 0; k < armCount; ++k) {
    Arm& arm = f.arms[k];
    if (!PlanPass(*views[2 * k], true, width, format, &arm.across) ||
        !PlanPass(*views[2 * k + 1], false, height, format, &arm.down)) {
      return false;
    }
    positions = std::max(positions, arm.down.plan.JobPositions());
  }
  // A narrower arm's across line starts inside the widest one's padding.
  f.widest = armCount == 2 && f.arms[1].across.taps > f.arms[0].across.taps ? 1 : 0;
  const int32_t before = f.arms[f.widest].across.before;
  for (int32_t k = 0; k < armCount; ++k) {
    const PassPlan& pass = f.arms[k].across;
    positions =
        std::max(positions, static_cast<size_t>(before - pass.before) + pass.plan.JobPositions());
  }
  // Over a dst that holds no floor the intermediate image can live in dst
  // itself. The cross needs that.
  f.inPlace = destination != DestinationState::Floor || IsClear<Pixel>(dst);
  if (!f.inPlace && !FloorSuitsLanes<Pixel>(dst)) return false;
  if (armCount == 2) {
    if (!f.inPlace) return false;
    f.keptOffset = positions * kLineLanes;
    positions += static_cast<size_t>(height);
  }
  f.line = simd::LineFor<Lane>(simd::KernelsFor(instructionSet));
  f.src = src;
  f.dst = dst;
  f.maskSource = maskSource;
  f.width = width;
  f.height = height;
  f.strips = (width + kBlock - 1) / kBlock;
  SlotPool<Lane> pool(positions);
  f.pool = &pool;

  // A kernel of one tap of 32768 passes its input through. With one arm in
  // place its pass need not run: the vertical pass reads src itself, or the
  // horizontal one leaves the blur in dst.
  const bool alone = armCount == 1 && f.inPlace;
  const bool acrossRuns = !(alone && IsUnitTap(*views[0]) && !IsUnitTap(*views[1]));
  const bool downRuns = !(alone && IsUnitTap(*views[1]));
  f.downReadsSource = !acrossRuns;

  AEWorld temp(inData);
  if (!f.inPlace) temp.CopyFrom(dst);
  f.arms[armCount - 1].mid = f.inPlace ? dst : temp.World();
  if (armCount == 2) f.arms[0].mid = firstMid;

  auto run = [&](bool across) { RunPass<Pixel, Lane>(inData, f, src, across); };
  try {
    if (acrossRuns) run(true);
  } catch (...) {
    // The straightforward passes leave dst untouched when the first one
    // stops; so does this one.
    if (f.inPlace) {
      for (int32_t y = 0; y < height; ++y) {
        std::memset(PixelAt<char>(dst, 0, y), 0, static_cast<size_t>(width) * sizeof(Pixel));
      }
    }
    throw;
  }
  if (downRuns) run(false);
  return true;
}

}  // namespace

bool ConvolveSeparableFast(PF_InData* inData, const KernelView& across, const KernelView& down,
                           PF_EffectWorld* src, PF_EffectWorld* dst, SimdLevel instructionSet,
                           bool maskSource, DestinationState destination) {
  const KernelView* views[] = {&across, &down};
  return DispatchPixel(FormatOf(dst), [&]<typename Pixel>() {
    return ConvolveArms<Pixel>(inData, views, 1, src, nullptr, dst, instructionSet, maskSource,
                               destination);
  });
}

bool ConvolveCrossFast(PF_InData* inData, const KernelView& across1, const KernelView& down1,
                       const KernelView& across2, const KernelView& down2, PF_EffectWorld* src,
                       PF_EffectWorld* scratch, PF_EffectWorld* dst, SimdLevel instructionSet,
                       bool maskSource, DestinationState destination) {
  const KernelView* views[] = {&across1, &down1, &across2, &down2};
  return DispatchPixel(FormatOf(dst), [&]<typename Pixel>() {
    return ConvolveArms<Pixel>(inData, views, 2, src, scratch, dst, instructionSet, maskSource,
                               destination);
  });
}
